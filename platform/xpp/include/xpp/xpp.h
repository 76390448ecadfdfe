// The Xbase++ runtime stand-in: one header for all of it.
#pragma once

#include "xpp/error.h"
#include "xpp/files.h"
#include "xpp/functions.h"
#include "xpp/native.h"
#include "xpp/object.h"
#include "xpp/runtime.h"
#include "xpp/value.h"
