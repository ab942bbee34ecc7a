// The tour's sections, one per family, run in this order by main().
#pragma once

#include <string>

void Section(const std::string& title);

void TourLogging();
void TourComm();
void TourSystem();
void TourText();
void TourHttp();
