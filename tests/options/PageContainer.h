#pragma once
// A minimal control container for the options page, standing in for Outlook's Tools / Options
// dialog: a top-level window whose client site answers Outlook's page-site interface, sites the
// page, activates it in place and calls Dirty and Apply when asked.
//
// The page runs on the test's thread inside Run(); a driver on a second thread works the
// page's controls with the UI-automation helpers and asks for Apply/Dirty through the window.
#include <windows.h>
#include <ole2.h>
#include <atomic>
#include <functional>
#include <string>
#include <vector>
#include "options/HvToolsOpts_i.h"
#include "outlook-sim/automation/UiAutomation.h"
#include "win/ComPtr.h"

namespace hvtest {

// The caption of the container window.
constexpr const char* kContainerCaption = "Halvane Options Test Container";

class PageContainer;

// What the driver gets: the page's dialog and calls into the page made on its own thread.
class PageDriver {
public:
    PageDriver(HWND container, HWND page, PageContainer& owner)
        : m_container(container), m_page(page), m_owner(owner) {}
    HWND Page() const noexcept { return m_page; }
    HWND Container() const noexcept { return m_container; }
    // PropertyPage::Apply and Dirty, called on the page's thread.
    HRESULT Apply() const;
    bool Dirty() const;
    // OnStatusChange calls the site has received so far, and the Dirty answers read at each.
    int StatusChanges() const;
    std::vector<bool> DirtyAtStatusChanges() const;
    // Moves the keyboard focus to a control of the page, as a click or Tab would.
    void Focus(int id) const;
    // Takes the page out of the window (IOleInPlaceObject::InPlaceDeactivate) and back in
    // (DoVerb); Reactivate returns the page's new dialog.
    HRESULT Deactivate() const;
    HWND Reactivate();

private:
    HWND m_container;
    HWND m_page;
    PageContainer& m_owner;
};

class PageContainer {
public:
    // Creates the page object; the container owns what it returns.
    using Factory = std::function<HRESULT(IUnknown** page)>;
    explicit PageContainer(Factory factory) : m_factory(std::move(factory)) {}

    // Creates the page, sites and activates it in the container window, and runs the window
    // until the driver is done; failures of the container's own steps fail the test.
    void Run(const std::function<void(hv::uiauto::Automation&, PageDriver&)>& driver);

    // What the site has seen (read from any thread).
    std::atomic<int> m_statusChanges{0};
    std::vector<bool> m_dirtyAtChange;  // guarded by the page thread; read after Run or via SendMessage
    HRESULT m_hrSetClientSite = E_FAIL;
    HRESULT m_hrDoVerb = E_FAIL;
    // The site answers the page-site interface only as a service (IServiceProvider), not
    // through QueryInterface.
    bool m_pageSiteAsService = false;

    // Called by the site on the page's thread.
    void OnStatusChange();
    IUnknown* PageObject() const noexcept { return m_page.get(); }

private:
    Factory m_factory;
    hv::com_ptr<IUnknown> m_page;
};

// The page as the options library creates it when registered: by ProgID through COM.
HRESULT CreatePageByProgId(IUnknown** page);

}  // namespace hvtest
