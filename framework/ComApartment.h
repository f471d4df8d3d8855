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

// Owns one interface pointer and releases it.
template <class Interface> class ComPointer {
  public:
    ComPointer() = default;
    ~ComPointer() {
        if (pointer_ != NULL)
            pointer_->Release();
    }
    ComPointer(const ComPointer&) = delete;
    ComPointer& operator=(const ComPointer&) = delete;
    void** Receive() { return (void**)&pointer_; }
    Interface* operator->() const { return pointer_; }
    Interface* Get() const { return pointer_; }
    explicit operator bool() const { return pointer_ != NULL; }

  private:
    Interface* pointer_ = NULL;
};
