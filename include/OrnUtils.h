// Everything OrnUtils offers, in one include.
//
//   #include <OrnUtils.h>
//   OrnUtil::CLog::Init("");
#pragma once

#include <OrnUtil/Log.h>
#include <OrnUtil/Comm.h>
