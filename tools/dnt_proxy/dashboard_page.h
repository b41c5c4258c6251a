// The dashboard page the admin endpoint serves at "/": dashboard.html,
// built into the program.
#pragma once

#include <string_view>

namespace dnt_proxy {

std::string_view DashboardPage();

}  // namespace dnt_proxy
