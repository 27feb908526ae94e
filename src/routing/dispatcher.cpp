#include "routing/dispatcher.h"

#include <atomic>
#include <cstdio>

#include "routing/form.h"
#include "routing/route_table.h"
#include "toolkit/sb_exception.h"

namespace sealdesk {
namespace {
std::atomic<bool> g_form_decoding{false};
}

void SetFormDecoding(bool on) { g_form_decoding = on; }

void Dispatch(const SignCore::TElHTTPServerRequestParams& request, SignCore::TElHTTPServerResponseParams& response,
              SignCore::TMemoryStream& body, bool response_option, const LogCallback& log, std::string& result) {
    using namespace SignCore;
    response.AnnounceConnection = response_option;
    response.KeepAlive = request.KeepAlive();
    result.clear();

    if (request.Method() != kMethodPost && request.Method() != kMethodGet) {
        response.StatusCode = 400;
        response.ContentLength = 0;
        return;
    }
    const bool post = request.Method() == kMethodPost;
    try {
        std::string text(static_cast<std::size_t>(body.Size()), '\0');
        body.Seek(0, SeekOrigin::Begin);
        text.resize(body.Read(text.data(), text.size()));
        if (log) log("POST data received: " + text + "\n");

        FormMap form = FormMap::parse(text);
        if (g_form_decoding && request.Header("Content-Type") != "application/x-www-form-urlencoded")
            form.percent_decode();

        std::string path = request.URL();
        if (post) {
            if (const auto mark = path.find('?'); mark != std::string::npos) path.erase(mark);
        }
        if (const Route* route = find_route(path)) route->run(result, form);

        response.StatusCode = 200;
        response.ContentLength = static_cast<std::int64_t>(result.size());
        if (post) response.AddHeader("Access-Control-Allow-Origin", "*");
    } catch (const std::exception& e) {
        if (!is_toolkit_exception(e)) {
            // Operations handle their own errors; one that slipped through
            // must not take the service down with it.
            std::fprintf(stderr, "sealdesk: request %s failed: %s\n", request.URL().c_str(), e.what());
            response.StatusCode = 500;
        } else {
            response.StatusCode = 404;
        }
        result.clear();
        response.ContentLength = 0;
        response.OtherHeaders.clear();
    }
}

}  // namespace sealdesk
