// Shared by the session, profile and launch families: the primary token of a logged-on user.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "internal.h"

namespace sim::sessions::detail {

class UserToken : public sim::detail::KernelObject {
public:
    UserToken(std::wstring user, std::wstring sid, uint32_t session);
    ~UserToken() override;
    UserToken(const UserToken&) = delete;
    UserToken& operator=(const UserToken&) = delete;

    const std::wstring user;
    const std::wstring sid;
    const uint32_t session;

    // Tokens alive: one handle each, so the open token handles.
    static size_t live();
};

// The user token behind a handle, or null.
std::shared_ptr<UserToken> userToken(HANDLE handle);
// "C:\Users\<user>".
std::wstring profileFolder(const std::wstring& user);

}  // namespace sim::sessions::detail
