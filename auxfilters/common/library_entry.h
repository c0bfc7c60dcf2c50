// The exports every filter library offers: its class factory and the unload check.
#pragma once

#include "aux_filters.h"
#include "dshow/combase.h"

#define VELTRO_FILTER_LIBRARY(templates)                                                    \
    VELTRO_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** ppv)       \
    {                                                                                      \
        return GetClassObjectFromTemplates(templates, clsid, iid, ppv);                    \
    }                                                                                      \
    VELTRO_EXPORT HRESULT DllCanUnloadNow() { return CanUnloadObjects(); }
