#include "routing/route_table.h"

#include "routing/last_error.h"
#include "text/text.h"

namespace sealdesk {
namespace {

int get_last_err(std::string& result, const FormMap&) {
    result = utf8_response(last_error_get());
    return 0;
}

// Paths are compared whole and case-sensitively, first match wins. Each row
// takes its fields from the form map (absent ones as empty texts, integer
// fields through FormMap::integer) and calls its operation.
const std::vector<Route> g_routes = {
    {"/echo", [](std::string& r, const FormMap& f) { r = f.text("value"); return 0; }},
    {"/getLastErr", get_last_err},
};

}  // namespace

const std::vector<Route>& route_table() { return g_routes; }

const Route* find_route(std::string_view path) {
    for (const Route& route : g_routes)
        if (route.path == path) return &route;
    return nullptr;
}

}  // namespace sealdesk
