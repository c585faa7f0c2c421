// The programs registered to hear of a change of network isolation, run once per change:
// those to start in every user's session, the product's UI applications (through its UI
// program, in every session) and those to start as the service itself. The programs find out
// the new state themselves.
#pragma once

#include <functional>
#include <string>

class NetworkIsolationHandlers {
public:
    using Launcher = std::function<void(const std::wstring& program)>;

    NetworkIsolationHandlers() = default;
    virtual ~NetworkIsolationHandlers() = default;
    NetworkIsolationHandlers(const NetworkIsolationHandlers&) = delete;
    NetworkIsolationHandlers& operator=(const NetworkIsolationHandlers&) = delete;

    // Hands the string data of every value of the key (below HKEY_LOCAL_MACHINE) to the
    // launcher, in the registry's order; a missing key is the normal case.
    virtual void executeNetworkIsolationHandlers(const std::wstring& keyPath,
                                                 const Launcher& launcher);
    // The "User", then the "Ui", then the "System" handlers of the namespace.
    virtual void runHandlers(const std::wstring& namespaceName);
    virtual void launchAppForAllLoggedInUsers(const std::wstring& program);
    virtual void launchUI(const std::wstring& namespaceName, const std::wstring& application);
    virtual void launchSystem(const std::wstring& program);
};
