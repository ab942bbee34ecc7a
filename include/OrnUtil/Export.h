/// \file
/// The one macro that marks the exported interface of libOrnUtils.so.
///
/// The library is built with hidden symbols; only what carries ORNUTILS_API is visible to
/// applications.
#pragma once

/// Marks a class or function as part of the exported interface.
#define ORNUTILS_API __attribute__((visibility("default")))
