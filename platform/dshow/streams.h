// The streaming base classes in one include, as filter sources expect.
#pragma once

#include "amalloc.h"
#include "amfilter.h"
#include "combase.h"
#include "control.h"
#include "mtype.h"
#include "qedit.h"
#include "refclock.h"
#include "reftime.h"
#include "source.h"
#include "strmif.h"
#include "renbase.h"
#include "transfrm.h"
#include "transip.h"
#include "uuids.h"
#include "wxutil.h"
