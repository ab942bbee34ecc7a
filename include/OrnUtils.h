/// \file
/// Everything OrnUtils offers, in one include.
///
///     #include <OrnUtils.h>
///     OrnUtil::CLog::Init("");
#pragma once

#include <OrnUtil/Comm.h>
#include <OrnUtil/Http.h>
#include <OrnUtil/Log.h>
#include <OrnUtil/System.h>
#include <OrnUtil/Text.h>
