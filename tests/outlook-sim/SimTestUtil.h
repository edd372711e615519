#pragma once
// Late-bound helpers for the simulator tests: they reach the simulator exactly as the add-in
// reaches Outlook, through CDispatcher, and a recording sink for connection points.
#include <windows.h>
#include <ocidl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "win/ComPtr.h"
#include "win/ComTypes.h"
#include "win/Dispatcher.h"
#include "win/Strings.h"

namespace simtest {

inline hv::unique_variant Get(IDispatch* obj, const wchar_t* name) {
    hv::unique_variant v;
    HRESULT hr = CDispatcher::GetProperty(obj, name, v.put());
    if (FAILED(hr)) ADD_FAILURE() << "get failed: " << hv::ToAnsi(name) << " " << std::hex << hr;
    return v;
}

inline hv::com_ptr<IDispatch> GetObj(IDispatch* obj, const wchar_t* name) {
    hv::unique_variant v = Get(obj, name);
    return hv::com_ptr<IDispatch>(v.AsDispatch());
}

inline HRESULT Put(IDispatch* obj, const wchar_t* name, hv::unique_variant v) {
    return CDispatcher::PutProperty(obj, name, &v);
}

// Arguments in the order written; reversed here as Invoke takes them.
inline HRESULT Call(IDispatch* obj, const wchar_t* name, std::vector<hv::unique_variant> args,
                    VARIANT* result = nullptr) {
    std::vector<VARIANT> reversed;
    for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(*it);
    return CDispatcher::CallMethod(obj, name, result, static_cast<UINT>(reversed.size()),
                                   reversed.empty() ? nullptr : reversed.data());
}

inline hv::com_ptr<IDispatch> CallObj(IDispatch* obj, const wchar_t* name, std::vector<hv::unique_variant> args) {
    hv::unique_variant v;
    HRESULT hr = Call(obj, name, std::move(args), v.put());
    if (FAILED(hr)) return nullptr;
    return hv::com_ptr<IDispatch>(v.AsDispatch());
}

// Records every event it receives: DISPID and argument count.
class RecordingSink : public IDispatch {
public:
    explicit RecordingSink(const IID& iid) : m_iid(iid) {}
    struct Event {
        DISPID id;
        UINT args;
        hv::com_ptr<IDispatch> firstObject;
    };
    std::vector<Event> events;
    VARIANT_BOOL cancelWith = VARIANT_FALSE;  // written into a by-reference Cancel argument

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == m_iid) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override { return --m_refs; }  // lives on the test's stack
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override {
        Event e{id, p ? p->cArgs : 0, nullptr};
        if (p && p->cArgs > 0) {
            const VARIANT& first = p->rgvarg[p->cArgs - 1];
            if (first.vt == VT_DISPATCH) e.firstObject = first.pdispVal;
            const VARIANT& last = p->rgvarg[0];
            if (last.vt == (VT_BYREF | VT_BOOL)) *last.pboolVal = cancelWith;
        }
        events.push_back(e);
        return S_OK;
    }

    // Connects to the source's connection point for the IID.
    DWORD Connect(IDispatch* source) {
        hv::com_ptr<IConnectionPointContainer> cpc;
        EXPECT_EQ(S_OK, source->QueryInterface(IID_IConnectionPointContainer, cpc.put_void()));
        if (!cpc) return 0;
        EXPECT_EQ(S_OK, cpc->FindConnectionPoint(m_iid, m_point.put()));
        DWORD cookie = 0;
        if (m_point) {
            EXPECT_EQ(S_OK, m_point->Advise(static_cast<IDispatch*>(this), &cookie));
        }
        return cookie;
    }
    void Disconnect(DWORD cookie) {
        if (m_point) {
            EXPECT_EQ(S_OK, m_point->Unadvise(cookie));
        }
        m_point.reset();
    }
    size_t Count(DISPID id) const {
        size_t n = 0;
        for (const auto& e : events) n += e.id == id;
        return n;
    }

private:
    IID m_iid;
    ULONG m_refs = 1;
    hv::com_ptr<IConnectionPoint> m_point;
};

}  // namespace simtest
