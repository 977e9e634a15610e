// A smart reference to a library object: holds one reference and releases it on every path.
#pragma once
#include <cstddef>
#include <utility>
#include "kqObjectBase.h"

template <class T>
class CSmartPtr
{
public:
    CSmartPtr() noexcept = default;
    CSmartPtr(std::nullptr_t) noexcept {}
    // Adds a reference of its own; the caller keeps the one it holds.
    explicit CSmartPtr(T* pObject) noexcept : m_pObject(pObject)
    {
        if (m_pObject)
            m_pObject->AddRef();
    }
    CSmartPtr(const CSmartPtr& other) noexcept : CSmartPtr(other.m_pObject) {}
    CSmartPtr(CSmartPtr&& other) noexcept : m_pObject(other.m_pObject) { other.m_pObject = nullptr; }
    template <class U>
    CSmartPtr(const CSmartPtr<U>& other) noexcept : CSmartPtr(static_cast<T*>(other.Get()))
    {
    }
    ~CSmartPtr() { Reset(); }

    CSmartPtr& operator=(const CSmartPtr& other) noexcept
    {
        CSmartPtr(other).Swap(*this);
        return *this;
    }
    CSmartPtr& operator=(CSmartPtr&& other) noexcept
    {
        CSmartPtr(std::move(other)).Swap(*this);
        return *this;
    }
    CSmartPtr& operator=(std::nullptr_t) noexcept
    {
        Reset();
        return *this;
    }

    // Takes over a reference the caller already owns (such as a creator's result).
    void Attach(T* pObject) noexcept
    {
        Reset();
        m_pObject = pObject;
    }
    // Hands the reference to the caller.
    T* Detach() noexcept
    {
        T* pObject = m_pObject;
        m_pObject = nullptr;
        return pObject;
    }
    void Reset() noexcept
    {
        T* pObject = m_pObject;
        m_pObject = nullptr;
        if (pObject)
            pObject->Release();
    }
    void Swap(CSmartPtr& other) noexcept { std::swap(m_pObject, other.m_pObject); }

    T* Get() const noexcept { return m_pObject; }
    T* operator->() const noexcept { return m_pObject; }
    T& operator*() const noexcept { return *m_pObject; }
    explicit operator bool() const noexcept { return m_pObject != nullptr; }

    // For out parameters: releases what is held and gives the slot to be filled.
    T** Receive() noexcept
    {
        Reset();
        return &m_pObject;
    }
    void** ReceiveVoid() noexcept { return reinterpret_cast<void**>(Receive()); }

    // Hands out one more reference; KQERR_INVALIDARG without ppObject.
    HRESULT CopyTo(T** ppObject) const noexcept
    {
        if (!ppObject)
            return KQERR_INVALIDARG;
        *ppObject = m_pObject;
        if (m_pObject)
            m_pObject->AddRef();
        return KQ_OK;
    }

    // Asks another object for T (by T::kIid); what was held before is released.
    template <class U>
    HRESULT QueryFrom(U* pSource) noexcept
    {
        if (!pSource)
        {
            Reset();
            return KQERR_INVALIDARG;
        }
        // Into a temporary first: the source may be the object held here.
        T* pObject = nullptr;
        HRESULT hr = pSource->QueryInterface(T::kIid, reinterpret_cast<void**>(&pObject));
        Attach(SUCCEEDED(hr) ? pObject : nullptr);
        return hr;
    }

private:
    T* m_pObject = nullptr;
};

template <class T, class U>
bool operator==(const CSmartPtr<T>& left, const CSmartPtr<U>& right) noexcept
{
    return left.Get() == right.Get();
}
template <class T, class U>
bool operator!=(const CSmartPtr<T>& left, const CSmartPtr<U>& right) noexcept
{
    return left.Get() != right.Get();
}
template <class T>
bool operator==(const CSmartPtr<T>& left, std::nullptr_t) noexcept
{
    return left.Get() == nullptr;
}
template <class T>
bool operator!=(const CSmartPtr<T>& left, std::nullptr_t) noexcept
{
    return left.Get() != nullptr;
}
