// Plug-in libraries and in-process classes. Libraries are loaded by path with dlopen and
// never unloaded; their DllGetClassObject serves the class factories. Classes that the
// platform itself provides are registered in-process and created with CoCreateInstance.
#pragma once

#include <string>

#include "unknown.h"

// Loads the library (once per path) and returns its DllGetClassObject, or nullptr when the
// library cannot be loaded or has no such export. `error` (optional) receives dlerror's text.
DllGetClassObjectFn LoadClassObjectEntry(const std::string& path, std::string* error = nullptr);

// Library -> class factory -> instance for iid. Returns the failing step's HRESULT.
HRESULT CreateInstanceFromLibrary(const std::string& path, REFCLSID clsid, REFIID iid, void** ppv);

// Built-in classes ("in-process servers" of the platform).
using ClassCreator = HRESULT (*)(IUnknown* outer, REFIID iid, void** ppv);
void RegisterBuiltinClass(REFCLSID clsid, ClassCreator create);

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
// REGDB_E_CLASSNOTREG for a class nobody registered.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** ppv);
