#pragma once
#include "framework/SystemLibrary.h"

#include <objbase.h>

// COM initialised for the lifetime of the object; ole32 is bound on first use from the system folder.
class ComApartment {
  public:
    ComApartment() {
        typedef HRESULT(WINAPI * CoInitializeFunction)(LPVOID);
        CoInitializeFunction initialize = SystemFunction<CoInitializeFunction>(L"ole32.dll", "CoInitialize");
        uninitialize_ = SystemFunction<CoUninitializeFunction>(L"ole32.dll", "CoUninitialize");
        initialized_ = initialize != NULL && uninitialize_ != NULL && SUCCEEDED(initialize(NULL));
    }
    ~ComApartment() {
        if (initialized_)
            uninitialize_();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    bool Initialized() const { return initialized_; }

  private:
    typedef void(WINAPI* CoUninitializeFunction)();
    CoUninitializeFunction uninitialize_ = NULL;
    bool initialized_ = false;
};
