// The tour's sections, one per family, run in this order by main().
#pragma once

#include <string>

void Section(const std::string& title);

void TourLogging();
void TourComm();
void TourSystem();
// The child side of the framed exchange: upper-cases every message until its input ends.
int FramedChild();
void TourText();
void TourHttp();
