// The operations a page can call, by request path. The table itself lives in
// route_table.cpp and is the only place that maps paths to operations.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "routing/form.h"

namespace sealdesk {

// Every operation fills `result` (the response body, empty on failure) and
// returns 0 or its result code as a number; the dispatcher ignores the number.
using Operation = int (*)(std::string& result, const FormMap& form);

struct Route {
    std::string_view path;
    Operation run;
};

const std::vector<Route>& route_table();

// First row whose path equals `path` exactly, or nullptr.
const Route* find_route(std::string_view path);

}  // namespace sealdesk
