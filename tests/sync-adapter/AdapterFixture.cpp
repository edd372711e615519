#include "AdapterFixture.h"
#include <cmath>
#include <cstdlib>
#include "service/ServiceTestSupport.h"
#include "win/Dispatcher.h"
#include "win/Strings.h"

void AdapterTest::SetUp() {
    const char* address = std::getenv("HV_SERVICE_ADDRESS");
    ConnectTo(address ? std::string(address).c_str() : hvtest::Loopback(40).c_str());
    m_api = TheAPI();
    m_outlook = std::make_unique<hvsim::SimOutlook>();
    m_adapter = std::make_unique<CTestPushPull>(m_api);
    m_adapter->m_credentials.m_strUser = "alice";
    m_adapter->m_credentials.m_strPassword = "alice-pass";
    hv::unique_variant mapi = hv::unique_variant::FromString("MAPI"), ns;
    ASSERT_HRESULT_SUCCEEDED(CDispatcher::CallMethod(m_outlook->Application(), L"GetNamespace", ns.put(), 1, &mapi));
    m_adapter->m_pNameSpace = ns.AsDispatch();
}

void AdapterTest::TearDown() {
    m_adapter.reset();
    m_outlook.reset();
    Disconnect();
    ResetProductKey();
}

DATE AdapterTest::Day(int days) {
    return std::floor(hvsim::Model::CurrentTime()) + days;
}

hv::unique_variant AdapterTest::Prop(IDispatch* object, const wchar_t* name) {
    hv::unique_variant v;
    EXPECT_HRESULT_SUCCEEDED(CDispatcher::GetProperty(object, name, v.put())) << hv::ToAnsi(name);
    return v;
}
