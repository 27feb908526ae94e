#include "platform/token_store.h"

#include <libp11.h>
#include <openssl/err.h>
#include <openssl/rsa.h>
#include <openssl/ui.h>
#include <dlfcn.h>
#include <p11-kit/p11-kit.h>
#include <p11-kit/pkcs11.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>

#include "platform/dialogs.h"

// Where p11-kit looks for a module named without a folder.
#ifndef P11_MODULE_PATH
#define P11_MODULE_PATH "/usr/lib/x86_64-linux-gnu/pkcs11"
#endif

namespace sealdesk::platform {

namespace {

// PKCS#11 return values the recovery paths look for.
constexpr unsigned long kObjectHandleInvalid = 0x82;
constexpr unsigned long kOperationActive = 0x90;
constexpr unsigned long kPinIncorrect = 0xA0;
constexpr unsigned long kPinLocked = 0xA4;
constexpr unsigned long kUserAlreadyLoggedIn = 0x100;
constexpr unsigned long kUserNotLoggedIn = 0x101;

// Drains the OpenSSL error queue of this thread and returns the PKCS#11
// return values libp11 left in it.
std::set<unsigned long> drain_token_errors() {
    std::set<unsigned long> codes;
    const int ckr_lib = ERR_get_CKR_code();
    while (unsigned long e = ERR_get_error())
        if (ERR_GET_LIB(e) == ckr_lib) codes.insert(static_cast<unsigned long>(ERR_GET_REASON(e)));
    return codes;
}

std::string trimmed(const char* text) {
    if (!text) return {};
    std::string s(text);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    return s;
}

TokenIdentity identity_of(const PKCS11_TOKEN* token) {
    return {trimmed(token->label), trimmed(token->manufacturer), trimmed(token->model), trimmed(token->serialnr)};
}

std::u16string wide_from_config(const std::string& text) {
    try {
        return from_utf8(text);
    } catch (const bad_conversion&) {
        return ascii_to_wide(text);
    }
}

// --- the per-use PIN of keys that demand one ---------------------------------
// libp11 asks for it through an OpenSSL UI method in the middle of the
// operation, with the module's lock held. So the PIN is asked before the
// operation, with the lock released, and handed over here; without one the
// question fails. A failed question leaves the token's session with an
// operation started that only closing the sessions ends.
thread_local const std::string* t_key_pin = nullptr;
thread_local bool t_key_pin_missing = false;

int ui_read(UI* ui, UI_STRING* uis) {
    switch (UI_get_string_type(uis)) {
    case UIT_PROMPT:
    case UIT_VERIFY:
        if (!t_key_pin) {
            t_key_pin_missing = true;
            return 0;
        }
        return UI_set_result(ui, uis, t_key_pin->c_str()) == 0 ? 1 : 0;
    default:
        return 1;
    }
}

// A PIN typed in a dialog, wiped when no longer needed.
class TypedPin {
public:
    TypedPin() = default;
    TypedPin(const TypedPin&) = delete;
    TypedPin& operator=(const TypedPin&) = delete;
    ~TypedPin() { wipe(); }
    explicit operator bool() const { return text_.has_value(); }
    const std::string& text() const { return *text_; }
    void set(const std::string& text) {
        wipe();
        text_.emplace(text);
    }
    void wipe() {
        if (text_) OPENSSL_cleanse(text_->data(), text_->size());
        text_.reset();
    }

private:
    std::optional<std::string> text_;
};

UI_METHOD* prompt_method() {
    static UI_METHOD* method = [] {
        UI_METHOD* m = UI_create_method("token PIN");
        UI_method_set_reader(m, ui_read);
        return m;
    }();
    return method;
}

// Closes every session of the slot: flipping the session mode makes libp11
// close all of them. The token forgets its login with them.
void close_all_sessions(PKCS11_SLOT* slot) {
    PKCS11_open_session(slot, 1);
    PKCS11_open_session(slot, 0);
    PKCS11_logout(slot);  // resets libp11's cached login state
    ERR_clear_error();
}

}  // namespace

// A module file opened with libp11. Everything below runs under `lock`.
class TokenModule {
public:
    static std::shared_ptr<TokenModule> load(const ModuleEntry& entry, std::string& error) {
        auto module = std::shared_ptr<TokenModule>(new TokenModule(entry.path));
        module->ctx_ = PKCS11_CTX_new();
        if (!module->ctx_) {
            error = "out of memory";
            return nullptr;
        }
        if (!entry.init_args.empty()) PKCS11_CTX_init_args(module->ctx_, entry.init_args.c_str());
        PKCS11_set_ui_method(module->ctx_, prompt_method(), nullptr);
        if (PKCS11_CTX_load(module->ctx_, entry.path.c_str()) != 0) {
            ERR_clear_error();
            error = "cannot load or initialise the module";
            PKCS11_CTX_free(module->ctx_);
            module->ctx_ = nullptr;
            return nullptr;
        }
        module->loaded_ = true;
        // The same library libp11 holds, for the module's own view of its
        // tokens (never initialised or finalised from here).
        module->library_ = dlopen(entry.path.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (module->library_) {
            auto get_list = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module->library_, "C_GetFunctionList"));
            if (get_list && get_list(&module->functions_) != CKR_OK) module->functions_ = nullptr;
        }
        return module;
    }

    ~TokenModule() {
        if (slots_) PKCS11_release_all_slots(ctx_, slots_, nslots_);
        if (loaded_) PKCS11_CTX_unload(ctx_);
        if (ctx_) PKCS11_CTX_free(ctx_);
        if (library_) dlclose(library_);
    }

    std::mutex lock;
    const std::string path;

    // Brings libp11's slot list up to date when tokens came or went (or a
    // software token renumbered its slots). libp11 0.4.12's own update of a
    // slot list crashes once certificates were enumerated, and its
    // enumeration fails as a whole when one slot answers with an error (as a
    // software token's slot does once the token is deleted under it). So the
    // module is asked directly which initialised tokens it has; libp11's view
    // is rebuilt when that changed, kept when rebuilding fails (and tried
    // again at the next refresh), and only tokens the module still reports
    // are used.
    void refresh() {
        TokenMap now = current_tokens();
        if (enumerated_ && !stale_ && now == view_) return;
        view_ = std::move(now);
        reenumerate();
    }

    // Drops every slot object (and with it every key and session libp11 has
    // for this module, so the token forgets its login) and enumerates anew.
    // When that cannot be done the slot list is left as it was, marked out
    // of date for the next refresh.
    void reenumerate() {
        stale_ = true;
        // An enumeration that would fail is not tried: its failure closes
        // the sessions of the good slots too, and libp11 leaks what it had
        // built up to the failing slot.
        if (enumerated_ && !enumerable()) return;
        PKCS11_SLOT* slots = nullptr;
        unsigned count = 0;
        if (PKCS11_enumerate_slots(ctx_, &slots, &count) != 0) {
            ERR_clear_error();
            // The failed attempt closed the module's sessions of every slot
            // it had reached; start the remaining slot objects afresh.
            for (unsigned i = 0; i < nslots_; ++i)
                if (slots_[i].token) close_all_sessions(&slots_[i]);
            if (!enumerated_) view_ = {};
            enumerated_ = true;
            return;
        }
        if (slots_) PKCS11_release_all_slots(ctx_, slots_, nslots_);
        slots_ = slots;
        nslots_ = count;
        if (!functions_) view_ = libp11_tokens();
        enumerated_ = true;
        stale_ = false;
    }

    std::vector<PKCS11_SLOT*> initialised_tokens() {
        std::vector<PKCS11_SLOT*> out;
        for (unsigned i = 0; i < nslots_; ++i) {
            PKCS11_SLOT* slot = &slots_[i];
            if (!slot->token || !slot->token->initialized) continue;
            auto it = view_.find(PKCS11_get_slotid_from_slot(slot));
            if (it != view_.end() && it->second == identity_of(slot->token)) out.push_back(slot);
        }
        return out;
    }

    PKCS11_SLOT* find(const TokenIdentity& identity) {
        for (PKCS11_SLOT* slot : initialised_tokens())
            if (identity_of(slot->token) == identity) return slot;
        return nullptr;
    }

    // Whether the private key with CKA_ID `id` on the slot's token wants its
    // PIN at every use (CKA_ALWAYS_AUTHENTICATE). libp11 keeps its object
    // handles to itself, so the module is asked on a session of our own; it
    // shares the token's login, and libp11's sessions keep that login when
    // ours closes.
    bool always_authenticate(PKCS11_SLOT* slot, const Bytes& id) const {
        if (!functions_) return false;
        CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
        if (functions_->C_OpenSession(PKCS11_get_slotid_from_slot(slot), CKF_SERIAL_SESSION, nullptr, nullptr,
                                      &session) != CKR_OK)
            return false;
        CK_OBJECT_CLASS key_class = CKO_PRIVATE_KEY;
        CK_ATTRIBUTE wanted[] = {{CKA_CLASS, &key_class, sizeof key_class},
                                 {CKA_ID, const_cast<std::uint8_t*>(id.data()), id.size()}};
        CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
        CK_ULONG found = 0;
        if (functions_->C_FindObjectsInit(session, wanted, 2) == CKR_OK) {
            if (functions_->C_FindObjects(session, &key, 1, &found) != CKR_OK) found = 0;
            functions_->C_FindObjectsFinal(session);
        }
        CK_BBOOL always = CK_FALSE;
        CK_ATTRIBUTE attribute = {CKA_ALWAYS_AUTHENTICATE, &always, sizeof always};
        bool wants_pin = found == 1 && functions_->C_GetAttributeValue(session, key, &attribute, 1) == CKR_OK &&
                         always == CK_TRUE;
        functions_->C_CloseSession(session);
        return wants_pin;
    }

private:
    explicit TokenModule(std::string file) : path(std::move(file)) {}

    using TokenMap = std::map<unsigned long, TokenIdentity>;

    // The module's slots (only those holding a token, or all).
    std::optional<std::vector<CK_SLOT_ID>> slot_ids(bool with_token) const {
        CK_BBOOL present = with_token ? CK_TRUE : CK_FALSE;
        CK_ULONG count = 0;
        if (functions_->C_GetSlotList(present, nullptr, &count) != CKR_OK) return std::nullopt;
        std::vector<CK_SLOT_ID> ids(count);
        if (count && functions_->C_GetSlotList(present, ids.data(), &count) != CKR_OK) return std::nullopt;
        ids.resize(count);
        return ids;
    }

    TokenMap current_tokens() const {
        TokenMap tokens;
        if (!functions_) return view_;  // cannot ask: libp11's last view stands
        for (CK_SLOT_ID id : slot_ids(true).value_or(std::vector<CK_SLOT_ID>{})) {
            CK_TOKEN_INFO info{};
            if (functions_->C_GetTokenInfo(id, &info) != CKR_OK || !(info.flags & CKF_TOKEN_INITIALIZED)) continue;
            auto field = [](const unsigned char* p, std::size_t n) {
                return trimmed(std::string(reinterpret_cast<const char*>(p), n).c_str());
            };
            tokens[id] = {field(info.label, sizeof info.label), field(info.manufacturerID, sizeof info.manufacturerID),
                          field(info.model, sizeof info.model), field(info.serialNumber, sizeof info.serialNumber)};
        }
        return tokens;
    }

    // Whether every slot answers as libp11's enumeration requires: a slot
    // that says it holds a token must describe it or say it is gone.
    bool enumerable() const {
        if (!functions_) return true;
        auto ids = slot_ids(false);
        if (!ids) return false;
        for (CK_SLOT_ID id : *ids) {
            CK_SLOT_INFO slot{};
            if (functions_->C_GetSlotInfo(id, &slot) != CKR_OK) return false;
            if (!(slot.flags & CKF_TOKEN_PRESENT)) continue;
            CK_TOKEN_INFO token{};
            CK_RV rv = functions_->C_GetTokenInfo(id, &token);
            if (rv != CKR_OK && rv != CKR_TOKEN_NOT_PRESENT && rv != CKR_TOKEN_NOT_RECOGNIZED) return false;
        }
        return true;
    }

    TokenMap libp11_tokens() const {
        TokenMap tokens;
        for (unsigned i = 0; i < nslots_; ++i)
            if (slots_[i].token && slots_[i].token->initialized)
                tokens[PKCS11_get_slotid_from_slot(&slots_[i])] = identity_of(slots_[i].token);
        return tokens;
    }

    PKCS11_CTX* ctx_ = nullptr;
    bool loaded_ = false;
    bool enumerated_ = false;
    bool stale_ = false;  // libp11's slot list predates `view_`
    TokenMap view_;       // the initialised tokens the module reported last
    void* library_ = nullptr;
    CK_FUNCTION_LIST* functions_ = nullptr;
    PKCS11_SLOT* slots_ = nullptr;
    unsigned nslots_ = 0;
};

namespace {

// A module, once loaded, stays loaded until the process ends, and is never
// finalised at exit either: modules keep static state of their own that may
// already be gone by then. One context per library file, since a second
// initialisation of the same library in one process would share (and
// finalise) the first one's state.
std::mutex g_modules_lock;
auto& g_loaded = *new std::map<std::string, std::shared_ptr<TokenModule>>;

std::string canonical_path(const std::string& path) {
    std::error_code ec;
    auto canonical = std::filesystem::canonical(path, ec);
    return ec ? path : canonical.string();
}

std::shared_ptr<TokenModule> module_for(const ModuleEntry& entry) {
    std::string key = canonical_path(entry.path);
    if (auto it = g_loaded.find(key); it != g_loaded.end()) return it->second;
    std::string error;
    auto module = TokenModule::load(entry, error);
    if (!module) {
        std::fprintf(stderr, "Skipping PKCS#11 module %s (%s): %s\n", entry.name.c_str(), entry.path.c_str(),
                     error.c_str());
        return nullptr;
    }
    g_loaded[key] = module;
    return module;
}

PKCS11_KEY* find_key(PKCS11_TOKEN* token, const Bytes& id) {
    PKCS11_KEY* keys = nullptr;
    unsigned count = 0;
    if (PKCS11_enumerate_keys(token, &keys, &count) != 0) {
        ERR_clear_error();
        return nullptr;
    }
    for (unsigned i = 0; i < count; ++i)
        if (keys[i].id_len == id.size() && (id.empty() || std::memcmp(keys[i].id, id.data(), id.size()) == 0))
            return &keys[i];
    return nullptr;
}

}  // namespace

namespace {

// Module files in p11-kit's format ("key: value" lines) in the folder named by
// SEALDESK_PKCS11_MODULES. p11-kit never reads a user's own registry for
// root, so this is how a root session registers a token for the service
// alone (the demo token does). They come before p11-kit's modules.
std::vector<ModuleEntry> extra_modules() {
    std::vector<ModuleEntry> entries;
    const char* folder = std::getenv("SEALDESK_PKCS11_MODULES");
    if (!folder || !*folder) return entries;
    std::error_code ec;
    std::vector<std::filesystem::path> files;
    for (const auto& item : std::filesystem::directory_iterator(folder, ec))
        if (item.path().extension() == ".module") files.push_back(item.path());
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        ModuleEntry entry;
        entry.name = file.stem().string();
        std::ifstream in(file);
        std::string line;
        while (std::getline(in, line)) {
            std::size_t colon = line.find(':');
            if (line.empty() || line[0] == '#' || colon == std::string::npos) continue;
            std::string key = line.substr(0, colon);
            std::string value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(" \t"));
            while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
                value.pop_back();
            if (key == "module") entry.path = value;
            else if (key == "x-provider-name") entry.provider = wide_from_config(value);
            else if (key == "x-init-reserved") entry.init_args = value;
        }
        if (entry.path.empty()) continue;
        if (entry.path.find('/') == std::string::npos) entry.path = P11_MODULE_PATH "/" + entry.path;
        if (entry.provider.empty()) entry.provider = wide_from_config(entry.name);
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace

std::vector<ModuleEntry> registered_modules() {
    std::vector<ModuleEntry> entries = extra_modules();
    // Listed without initialising; released at once so that p11-kit never
    // finalises a module that libp11 then uses.
    // p11-kit says in one line on standard error which module it skipped.
    p11_kit_be_loud();
    CK_FUNCTION_LIST** modules = p11_kit_modules_load(nullptr, 0);
    p11_kit_be_quiet();
    if (!modules) return entries;
    for (CK_FUNCTION_LIST** m = modules; *m; ++m) {
        ModuleEntry entry;
        if (char* name = p11_kit_module_get_name(*m)) {
            entry.name = name;
            std::free(name);
        }
        if (char* file = p11_kit_module_get_filename(*m)) {
            entry.path = file;
            std::free(file);
        }
        if (char* provider = p11_kit_config_option(*m, "x-provider-name")) {
            entry.provider = wide_from_config(provider);
            std::free(provider);
        } else {
            entry.provider = wide_from_config(entry.name);
        }
        if (char* args = p11_kit_config_option(*m, "x-init-reserved")) {
            entry.init_args = args;
            std::free(args);
        }
        if (!entry.path.empty()) entries.push_back(std::move(entry));
    }
    p11_kit_modules_release(modules);
    return entries;
}

CertificateContext::CertificateContext(std::shared_ptr<TokenModule> module, TokenIdentity token, Bytes key_id,
                                       Bytes der, std::u16string provider)
    : module_(std::move(module)),
      token_(std::move(token)),
      key_id_(std::move(key_id)),
      der_(std::move(der)),
      provider_(std::move(provider)) {
    const unsigned char* p = der_.data();
    x509_ = d2i_X509(nullptr, &p, static_cast<long>(der_.size()));
    if (!x509_) throw std::invalid_argument("not a certificate");
}

CertificateContext::~CertificateContext() { X509_free(x509_); }

std::unique_ptr<CertificateStore> CertificateStore::open_personal() {
    return open_modules(registered_modules());
}

std::unique_ptr<CertificateStore> CertificateStore::open_modules(const std::vector<ModuleEntry>& entries) {
    auto store = std::unique_ptr<CertificateStore>(new CertificateStore);
    std::vector<std::pair<std::shared_ptr<TokenModule>, std::u16string>> modules;
    {
        std::lock_guard guard(g_modules_lock);
        std::set<std::string> seen;
        for (const ModuleEntry& entry : entries) {
            // The first registration of a library file wins.
            if (!seen.insert(canonical_path(entry.path)).second) continue;
            if (auto module = module_for(entry)) modules.emplace_back(module, entry.provider);
        }
    }
    for (auto& [module, provider] : modules) {
        std::lock_guard guard(module->lock);
        module->refresh();
        for (PKCS11_SLOT* slot : module->initialised_tokens()) {
            PKCS11_CERT* certs = nullptr;
            unsigned count = 0;
            if (PKCS11_enumerate_certs(slot->token, &certs, &count) != 0) {
                ERR_clear_error();
                continue;
            }
            TokenIdentity identity = identity_of(slot->token);
            for (unsigned i = 0; i < count; ++i) {
                if (!certs[i].x509) continue;
                unsigned char* der = nullptr;
                int len = i2d_X509(certs[i].x509, &der);
                if (len <= 0) continue;
                Bytes bytes(der, der + len);
                OPENSSL_free(der);
                Bytes id(certs[i].id, certs[i].id + certs[i].id_len);
                try {
                    store->certificates_.push_back(
                        std::make_shared<CertificateContext>(module, identity, std::move(id), std::move(bytes), provider));
                } catch (const std::invalid_argument&) {
                }
            }
        }
    }
    return store;
}

std::shared_ptr<PrivateKey> acquire_private_key(const CertificateHandle& certificate) {
    if (!certificate || !certificate->module()) return nullptr;
    TokenModule& module = *certificate->module();
    std::lock_guard guard(module.lock);
    module.refresh();
    PKCS11_SLOT* slot = module.find(certificate->token());
    if (!slot) return nullptr;
    if (find_key(slot->token, certificate->key_id())) return std::make_shared<PrivateKey>(certificate);
    int logged_in = 0;
    if (PKCS11_is_logged_in(slot, 0, &logged_in) != 0) {
        ERR_clear_error();
        logged_in = 0;
    }
    if (!slot->token->loginRequired || logged_in) return nullptr;
    // The token hides its private objects until login. When it shows public
    // keys, the public half with the same CKA_ID tells whether the private key
    // is there; a token without public key objects may still hold it, which
    // the login will tell.
    PKCS11_KEY* public_keys = nullptr;
    unsigned count = 0;
    if (PKCS11_enumerate_public_keys(slot->token, &public_keys, &count) != 0) {
        ERR_clear_error();
        count = 0;
    }
    if (count == 0) return std::make_shared<PrivateKey>(certificate);
    const Bytes& id = certificate->key_id();
    for (unsigned i = 0; i < count; ++i)
        if (public_keys[i].id_len == id.size() && std::memcmp(public_keys[i].id, id.data(), id.size()) == 0)
            return std::make_shared<PrivateKey>(certificate);
    return nullptr;
}

KeyUse PrivateKey::use(const std::function<bool(EVP_PKEY*)>& operation) const {
    TokenModule& module = *certificate_->module();
    const TokenIdentity& identity = certificate_->token();
    TypedPin pin;      // the login PIN, typed and not yet presented
    TypedPin key_pin;  // the key's per-use PIN, typed and not yet used
    bool after_wrong_pin = false;
    int tries_left = -1;
    bool logged_in_here = false;   // this call logged in: the key must show now
    bool logged_in_again = false;  // the one fresh login after a lost one
    bool recovered = false;        // the one retry of a failed operation
    for (;;) {
        enum class Ask { Nothing, LoginPin, KeyPin } ask = Ask::Nothing;
        {
            std::lock_guard guard(module.lock);
            module.refresh();
            PKCS11_SLOT* slot = module.find(identity);
            if (!slot) return KeyUse::Failed;
            if (pin) {
                int rc = PKCS11_login(slot, 0, pin.text().empty() && slot->token->secureLogin ? nullptr
                                                                                               : pin.text().c_str());
                pin.wipe();
                auto codes = drain_token_errors();
                if (rc != 0 && !codes.count(kUserAlreadyLoggedIn)) {
                    if (!codes.count(kPinIncorrect) || codes.count(kPinLocked)) return KeyUse::Failed;
                    module.refresh();
                    slot = module.find(identity);
                    if (!slot) return KeyUse::Failed;
                    after_wrong_pin = true;
                    tries_left = slot->token->userPinLocked ? 0 : slot->token->userPinFinalTry ? 1 : -1;
                    if (tries_left == 0) return KeyUse::Failed;
                    ask = Ask::LoginPin;
                } else {
                    logged_in_here = true;
                }
            }
            if (ask == Ask::Nothing) {
                PKCS11_KEY* key = find_key(slot->token, certificate_->key_id());
                if (!key) {
                    // Logged in by this very call, or a token that needs no
                    // login: what it shows now is all there is.
                    if (logged_in_here || !slot->token->loginRequired) return KeyUse::KeyAbsent;
                    int logged_in = 0;
                    if (PKCS11_is_logged_in(slot, 0, &logged_in) != 0) logged_in = 0;
                    ERR_clear_error();
                    if (logged_in) {
                        // The token shows no key although libp11 believes it
                        // is logged in: either the key is not there, or the
                        // login was lost behind libp11's back. Log in anew
                        // once to tell them apart.
                        if (logged_in_again) return KeyUse::KeyAbsent;
                        logged_in_again = true;
                        close_all_sessions(slot);
                    }
                    if (slot->token->secureLogin) {
                        pin.set(std::string());  // the reader's PIN pad takes it
                        continue;
                    }
                    ask = Ask::LoginPin;
                } else if (!key_pin && !slot->token->secureLogin &&
                           module.always_authenticate(slot, certificate_->key_id())) {
                    // Asked with the lock released, so that the token's other
                    // users need not wait for the person at the machine. (A
                    // PIN pad reader takes it inside the operation instead.)
                    ask = Ask::KeyPin;
                } else {
                    EVP_PKEY* evp = PKCS11_get_private_key(key);
                    if (!evp) {
                        ERR_clear_error();
                        return KeyUse::Failed;
                    }
                    t_key_pin = key_pin ? &key_pin.text() : nullptr;
                    t_key_pin_missing = false;
                    ERR_clear_error();
                    bool ok = operation(evp);
                    t_key_pin = nullptr;
                    key_pin.wipe();
                    EVP_PKEY_free(evp);
                    auto codes = drain_token_errors();
                    if (ok) return KeyUse::Done;
                    if (t_key_pin_missing || codes.count(kPinIncorrect)) {
                        // The token keeps the operation started before the
                        // PIN was refused; only closing the sessions ends it.
                        close_all_sessions(slot);
                        return KeyUse::Failed;
                    }
                    bool recoverable = codes.count(kObjectHandleInvalid) || codes.count(kUserNotLoggedIn) ||
                                       codes.count(kOperationActive);
                    if (!recoverable || recovered) return KeyUse::Failed;
                    recovered = true;
                    // Stale key objects or a lost login: start over with
                    // fresh slot, key and session objects (a PIN is asked
                    // again when the token needs one).
                    module.reenumerate();
                    logged_in_here = false;
                    continue;
                }
            }
        }
        PinRequest request;
        request.token_label = wide_from_config(identity.label);
        if (ask == Ask::LoginPin) {
            request.tries_left = tries_left;
            request.after_wrong_pin = after_wrong_pin;
        }
        std::optional<std::string> typed = dialogs().enter_pin(request);
        if (!typed) return KeyUse::Failed;
        (ask == Ask::LoginPin ? pin : key_pin).set(*typed);
        OPENSSL_cleanse(typed->data(), typed->size());
    }
}

std::optional<Bytes> PrivateKey::sign_pkcs1(const Bytes& digest_info, KeyUse* outcome) const {
    Bytes signature;
    KeyUse result = use([&](EVP_PKEY* key) {
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
        if (!ctx) return false;
        std::size_t size = 0;
        bool done = EVP_PKEY_sign_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 &&
                    EVP_PKEY_sign(ctx, nullptr, &size, digest_info.data(), digest_info.size()) == 1;
        if (done) {
            signature.resize(size);
            done = EVP_PKEY_sign(ctx, signature.data(), &size, digest_info.data(), digest_info.size()) == 1;
            signature.resize(size);
        }
        EVP_PKEY_CTX_free(ctx);
        return done;
    });
    if (outcome) *outcome = result;
    if (result != KeyUse::Done) return std::nullopt;
    return signature;
}

}  // namespace sealdesk::platform
