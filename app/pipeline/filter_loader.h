// Filters from the libraries of the program's filters folder, through their class factories.
#pragma once

#include <stdexcept>
#include <string>

#include "com/unknown.h"
#include "dshow/strmif.h"

// A library that loads but yields no filter; what() is "Error: Failed to add filter: " + path.
class FilterLoadError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Creates the class from the library into `slot`. A library that cannot be loaded leaves
// the slot as it was; one that loads but gives no filter throws FilterLoadError.
void LoadFilterFromLibrary(const std::string& path, REFCLSID clsid, ComPtr<IBaseFilter>& slot);

// APP_PATH + "filters/" + file name.
std::string FilterLibraryPath(const std::string& appPath, const char* fileName);
