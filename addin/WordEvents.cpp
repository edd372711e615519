#include "addin/WordEvents.h"

#include "win/ComTypes.h"

const DISPATCH_ENTRY CWordEvents::s_table[] = {
    {DISPID_WINDOWACTIVATE, 2, "WindowActivate"},
    {0, 0, nullptr},
};

void CWordEvents::OnInvoke(DISPID dispid, DISPPARAMS* params) {
    if (dispid != DISPID_WINDOWACTIVATE) return;
    // Arguments arrive reversed: rgvarg[1] is the document, rgvarg[0] the window.
    VARIANT& document = params->rgvarg[1];
    IDispatch* doc = document.vt == VT_DISPATCH ? document.pdispVal : nullptr;
    if (!doc) return;
    hv::unique_variant envelope;
    if (FAILED(GetProperty(doc, L"EnvelopeVisible", envelope.put()))) return;
    const bool mail = envelope.AsBool();
    hv::unique_variant bars;
    if (FAILED(GetProperty(m_pApplication, L"CommandBars", bars.put())) || !bars.AsDispatch()) return;
    hv::unique_variant name = hv::unique_variant::FromString("Halvane");
    hv::unique_variant bar;
    if (FAILED(CallMethod(bars.AsDispatch(), L"Item", bar.put(), 1, &name)) || !bar.AsDispatch()) return;
    hv::unique_variant on = hv::unique_variant::FromBool(mail);
    if (mail) {
        PutProperty(bar.AsDispatch(), L"Enabled", &on);
        PutProperty(bar.AsDispatch(), L"Visible", &on);
    } else {
        PutProperty(bar.AsDispatch(), L"Visible", &on);
        PutProperty(bar.AsDispatch(), L"Enabled", &on);
    }
}
