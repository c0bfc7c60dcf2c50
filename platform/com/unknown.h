// IUnknown, IClassFactory, a smart pointer and a reference-counting base for COM objects.
// Interfaces are abstract classes without virtual destructors so that their vtable slots
// are exactly the Windows ones: slot 0 QueryInterface, 1 AddRef, 2 Release, then the
// interface's own methods in declaration order.
#pragma once

#include <atomic>
#include <utility>

#include "guid.h"
#include "hresult.h"

// Binds an interface type to its IID so that templates can ask for it (like __uuidof).
template <class Interface>
struct InterfaceIdOf;
#define VELTRO_INTERFACE_ID(Interface, IidConstant)         \
    template <>                                             \
    struct InterfaceIdOf<Interface> {                       \
        static constexpr const GUID& value = IidConstant;   \
    }
#define IID_OF(Interface) (InterfaceIdOf<Interface>::value)

constexpr GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
VELTRO_INTERFACE_ID(IUnknown, IID_IUnknown);

struct IClassFactory : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) = 0;
};
VELTRO_INTERFACE_ID(IClassFactory, IID_IClassFactory);

// Signature of the DllGetClassObject export of every plug-in library.
using DllGetClassObjectFn = HRESULT (*)(REFCLSID clsid, REFIID riid, void** ppv);

// Owning interface pointer (AddRef on copy, Release on destruction), like ATL's CComPtr.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    ComPtr(T* p) : p_(p)
    {
        if (p_) p_->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(const ComPtr& other)
    {
        ComPtr(other).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        ComPtr(std::move(other)).Swap(*this);
        return *this;
    }
    ComPtr& operator=(T* p)
    {
        ComPtr(p).Swap(*this);
        return *this;
    }

    // Takes ownership of a reference the caller already holds.
    static ComPtr Adopt(T* p)
    {
        ComPtr result;
        result.p_ = p;
        return result;
    }

    void Reset()
    {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    T* Detach() { return std::exchange(p_, nullptr); }
    void Swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }
    bool operator==(const ComPtr& other) const { return p_ == other.p_; }
    bool operator==(const T* other) const { return p_ == other; }

    // For out-parameters: releases the current pointer and hands out its address.
    T** Put()
    {
        Reset();
        return &p_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

    // QueryInterface into another smart pointer; an empty pointer gives E_POINTER.
    template <class U>
    HRESULT As(ComPtr<U>& out) const
    {
        if (!p_) return E_POINTER;
        return p_->QueryInterface(IID_OF(U), out.PutVoid());
    }
    template <class U>
    ComPtr<U> As() const
    {
        ComPtr<U> out;
        As(out);
        return out;
    }

private:
    T* p_ = nullptr;
};

// Thread-safe reference count for objects that implement one or more interfaces.
// Derived classes call AddRefImpl/ReleaseImpl from their AddRef/Release.
class RefCounted {
public:
    RefCounted() = default;
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;

protected:
    virtual ~RefCounted() = default;
    ULONG AddRefImpl() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG ReleaseImpl()
    {
        ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }

private:
    std::atomic<ULONG> refs_{1};  // the creator holds the first reference
};

// Implements IUnknown for a class with a single interface chain (Interface derives from IUnknown).
// QueryInterface answers IUnknown and Interface; override QueryInterface to add more.
template <class Interface>
class ComObject : public Interface, public RefCounted {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_OF(Interface)) {
            *ppv = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
};
