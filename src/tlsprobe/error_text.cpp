// Error texts of tlsprobe: a table of error codes, strictly ascending, searched
// by halving. The texts are the libraries' own messages, taken from NSPR's error
// facility at lookup time so that they always match the libraries in use; only
// the closing placeholder entry has a text of its own.
#include "probe.h"

#include <nssutil.h>
#include <prerror.h>
#include <secerr.h>
#include <sslerr.h>

#include <cstdio>

namespace tlsprobe {
namespace {

struct ErrorEntry {
  PRErrorCode code;
  const char *text;  // null: the library's message for the code
};

// The codes the current NSS and NSPR define in the table's ranges: the SSL
// library from -12288 up to -12186 (-12285 is not defined), the security library
// from -8192 up to -8060 and NSPR from -6000 up to -5931, then the end entry.
const ErrorEntry kErrors[] = {
    // SSL library: 102 codes from SSL_ERROR_BASE (-12288) up to -12186
    {SSL_ERROR_EXPORT_ONLY_SERVER, nullptr}, // -12288
    {SSL_ERROR_US_ONLY_SERVER, nullptr}, // -12287
    {SSL_ERROR_NO_CYPHER_OVERLAP, nullptr}, // -12286
    {SSL_ERROR_BAD_CERTIFICATE, nullptr}, // -12284
    {SSL_ERROR_UNUSED_5, nullptr}, // -12283
    {SSL_ERROR_BAD_CLIENT, nullptr}, // -12282
    {SSL_ERROR_BAD_SERVER, nullptr}, // -12281
    {SSL_ERROR_UNSUPPORTED_CERTIFICATE_TYPE, nullptr}, // -12280
    {SSL_ERROR_UNSUPPORTED_VERSION, nullptr}, // -12279
    {SSL_ERROR_UNUSED_10, nullptr}, // -12278
    {SSL_ERROR_WRONG_CERTIFICATE, nullptr}, // -12277
    {SSL_ERROR_BAD_CERT_DOMAIN, nullptr}, // -12276
    {SSL_ERROR_POST_WARNING, nullptr}, // -12275
    {SSL_ERROR_SSL2_DISABLED, nullptr}, // -12274
    {SSL_ERROR_BAD_MAC_READ, nullptr}, // -12273
    {SSL_ERROR_BAD_MAC_ALERT, nullptr}, // -12272
    {SSL_ERROR_BAD_CERT_ALERT, nullptr}, // -12271
    {SSL_ERROR_REVOKED_CERT_ALERT, nullptr}, // -12270
    {SSL_ERROR_EXPIRED_CERT_ALERT, nullptr}, // -12269
    {SSL_ERROR_SSL_DISABLED, nullptr}, // -12268
    {SSL_ERROR_FORTEZZA_PQG, nullptr}, // -12267
    {SSL_ERROR_UNKNOWN_CIPHER_SUITE, nullptr}, // -12266
    {SSL_ERROR_NO_CIPHERS_SUPPORTED, nullptr}, // -12265
    {SSL_ERROR_BAD_BLOCK_PADDING, nullptr}, // -12264
    {SSL_ERROR_RX_RECORD_TOO_LONG, nullptr}, // -12263
    {SSL_ERROR_TX_RECORD_TOO_LONG, nullptr}, // -12262
    {SSL_ERROR_RX_MALFORMED_HELLO_REQUEST, nullptr}, // -12261
    {SSL_ERROR_RX_MALFORMED_CLIENT_HELLO, nullptr}, // -12260
    {SSL_ERROR_RX_MALFORMED_SERVER_HELLO, nullptr}, // -12259
    {SSL_ERROR_RX_MALFORMED_CERTIFICATE, nullptr}, // -12258
    {SSL_ERROR_RX_MALFORMED_SERVER_KEY_EXCH, nullptr}, // -12257
    {SSL_ERROR_RX_MALFORMED_CERT_REQUEST, nullptr}, // -12256
    {SSL_ERROR_RX_MALFORMED_HELLO_DONE, nullptr}, // -12255
    {SSL_ERROR_RX_MALFORMED_CERT_VERIFY, nullptr}, // -12254
    {SSL_ERROR_RX_MALFORMED_CLIENT_KEY_EXCH, nullptr}, // -12253
    {SSL_ERROR_RX_MALFORMED_FINISHED, nullptr}, // -12252
    {SSL_ERROR_RX_MALFORMED_CHANGE_CIPHER, nullptr}, // -12251
    {SSL_ERROR_RX_MALFORMED_ALERT, nullptr}, // -12250
    {SSL_ERROR_RX_MALFORMED_HANDSHAKE, nullptr}, // -12249
    {SSL_ERROR_RX_MALFORMED_APPLICATION_DATA, nullptr}, // -12248
    {SSL_ERROR_RX_UNEXPECTED_HELLO_REQUEST, nullptr}, // -12247
    {SSL_ERROR_RX_UNEXPECTED_CLIENT_HELLO, nullptr}, // -12246
    {SSL_ERROR_RX_UNEXPECTED_SERVER_HELLO, nullptr}, // -12245
    {SSL_ERROR_RX_UNEXPECTED_CERTIFICATE, nullptr}, // -12244
    {SSL_ERROR_RX_UNEXPECTED_SERVER_KEY_EXCH, nullptr}, // -12243
    {SSL_ERROR_RX_UNEXPECTED_CERT_REQUEST, nullptr}, // -12242
    {SSL_ERROR_RX_UNEXPECTED_HELLO_DONE, nullptr}, // -12241
    {SSL_ERROR_RX_UNEXPECTED_CERT_VERIFY, nullptr}, // -12240
    {SSL_ERROR_RX_UNEXPECTED_CLIENT_KEY_EXCH, nullptr}, // -12239
    {SSL_ERROR_RX_UNEXPECTED_FINISHED, nullptr}, // -12238
    {SSL_ERROR_RX_UNEXPECTED_CHANGE_CIPHER, nullptr}, // -12237
    {SSL_ERROR_RX_UNEXPECTED_ALERT, nullptr}, // -12236
    {SSL_ERROR_RX_UNEXPECTED_HANDSHAKE, nullptr}, // -12235
    {SSL_ERROR_RX_UNEXPECTED_APPLICATION_DATA, nullptr}, // -12234
    {SSL_ERROR_RX_UNKNOWN_RECORD_TYPE, nullptr}, // -12233
    {SSL_ERROR_RX_UNKNOWN_HANDSHAKE, nullptr}, // -12232
    {SSL_ERROR_RX_UNKNOWN_ALERT, nullptr}, // -12231
    {SSL_ERROR_CLOSE_NOTIFY_ALERT, nullptr}, // -12230
    {SSL_ERROR_HANDSHAKE_UNEXPECTED_ALERT, nullptr}, // -12229
    {SSL_ERROR_DECOMPRESSION_FAILURE_ALERT, nullptr}, // -12228
    {SSL_ERROR_HANDSHAKE_FAILURE_ALERT, nullptr}, // -12227
    {SSL_ERROR_ILLEGAL_PARAMETER_ALERT, nullptr}, // -12226
    {SSL_ERROR_UNSUPPORTED_CERT_ALERT, nullptr}, // -12225
    {SSL_ERROR_CERTIFICATE_UNKNOWN_ALERT, nullptr}, // -12224
    {SSL_ERROR_GENERATE_RANDOM_FAILURE, nullptr}, // -12223
    {SSL_ERROR_SIGN_HASHES_FAILURE, nullptr}, // -12222
    {SSL_ERROR_EXTRACT_PUBLIC_KEY_FAILURE, nullptr}, // -12221
    {SSL_ERROR_SERVER_KEY_EXCHANGE_FAILURE, nullptr}, // -12220
    {SSL_ERROR_CLIENT_KEY_EXCHANGE_FAILURE, nullptr}, // -12219
    {SSL_ERROR_ENCRYPTION_FAILURE, nullptr}, // -12218
    {SSL_ERROR_DECRYPTION_FAILURE, nullptr}, // -12217
    {SSL_ERROR_SOCKET_WRITE_FAILURE, nullptr}, // -12216
    {SSL_ERROR_MD5_DIGEST_FAILURE, nullptr}, // -12215
    {SSL_ERROR_SHA_DIGEST_FAILURE, nullptr}, // -12214
    {SSL_ERROR_MAC_COMPUTATION_FAILURE, nullptr}, // -12213
    {SSL_ERROR_SYM_KEY_CONTEXT_FAILURE, nullptr}, // -12212
    {SSL_ERROR_SYM_KEY_UNWRAP_FAILURE, nullptr}, // -12211
    {SSL_ERROR_PUB_KEY_SIZE_LIMIT_EXCEEDED, nullptr}, // -12210
    {SSL_ERROR_IV_PARAM_FAILURE, nullptr}, // -12209
    {SSL_ERROR_INIT_CIPHER_SUITE_FAILURE, nullptr}, // -12208
    {SSL_ERROR_SESSION_KEY_GEN_FAILURE, nullptr}, // -12207
    {SSL_ERROR_NO_SERVER_KEY_FOR_ALG, nullptr}, // -12206
    {SSL_ERROR_TOKEN_INSERTION_REMOVAL, nullptr}, // -12205
    {SSL_ERROR_TOKEN_SLOT_NOT_FOUND, nullptr}, // -12204
    {SSL_ERROR_NO_COMPRESSION_OVERLAP, nullptr}, // -12203
    {SSL_ERROR_HANDSHAKE_NOT_COMPLETED, nullptr}, // -12202
    {SSL_ERROR_BAD_HANDSHAKE_HASH_VALUE, nullptr}, // -12201
    {SSL_ERROR_CERT_KEA_MISMATCH, nullptr}, // -12200
    {SSL_ERROR_NO_TRUSTED_SSL_CLIENT_CA, nullptr}, // -12199
    {SSL_ERROR_SESSION_NOT_FOUND, nullptr}, // -12198
    {SSL_ERROR_DECRYPTION_FAILED_ALERT, nullptr}, // -12197
    {SSL_ERROR_RECORD_OVERFLOW_ALERT, nullptr}, // -12196
    {SSL_ERROR_UNKNOWN_CA_ALERT, nullptr}, // -12195
    {SSL_ERROR_ACCESS_DENIED_ALERT, nullptr}, // -12194
    {SSL_ERROR_DECODE_ERROR_ALERT, nullptr}, // -12193
    {SSL_ERROR_DECRYPT_ERROR_ALERT, nullptr}, // -12192
    {SSL_ERROR_EXPORT_RESTRICTION_ALERT, nullptr}, // -12191
    {SSL_ERROR_PROTOCOL_VERSION_ALERT, nullptr}, // -12190
    {SSL_ERROR_INSUFFICIENT_SECURITY_ALERT, nullptr}, // -12189
    {SSL_ERROR_INTERNAL_ERROR_ALERT, nullptr}, // -12188
    {SSL_ERROR_USER_CANCELED_ALERT, nullptr}, // -12187
    {SSL_ERROR_NO_RENEGOTIATION_ALERT, nullptr}, // -12186
    // Security library: 133 codes from SEC_ERROR_BASE (-8192) up to -8060
    {SEC_ERROR_IO, nullptr}, // -8192
    {SEC_ERROR_LIBRARY_FAILURE, nullptr}, // -8191
    {SEC_ERROR_BAD_DATA, nullptr}, // -8190
    {SEC_ERROR_OUTPUT_LEN, nullptr}, // -8189
    {SEC_ERROR_INPUT_LEN, nullptr}, // -8188
    {SEC_ERROR_INVALID_ARGS, nullptr}, // -8187
    {SEC_ERROR_INVALID_ALGORITHM, nullptr}, // -8186
    {SEC_ERROR_INVALID_AVA, nullptr}, // -8185
    {SEC_ERROR_INVALID_TIME, nullptr}, // -8184
    {SEC_ERROR_BAD_DER, nullptr}, // -8183
    {SEC_ERROR_BAD_SIGNATURE, nullptr}, // -8182
    {SEC_ERROR_EXPIRED_CERTIFICATE, nullptr}, // -8181
    {SEC_ERROR_REVOKED_CERTIFICATE, nullptr}, // -8180
    {SEC_ERROR_UNKNOWN_ISSUER, nullptr}, // -8179
    {SEC_ERROR_BAD_KEY, nullptr}, // -8178
    {SEC_ERROR_BAD_PASSWORD, nullptr}, // -8177
    {SEC_ERROR_RETRY_PASSWORD, nullptr}, // -8176
    {SEC_ERROR_NO_NODELOCK, nullptr}, // -8175
    {SEC_ERROR_BAD_DATABASE, nullptr}, // -8174
    {SEC_ERROR_NO_MEMORY, nullptr}, // -8173
    {SEC_ERROR_UNTRUSTED_ISSUER, nullptr}, // -8172
    {SEC_ERROR_UNTRUSTED_CERT, nullptr}, // -8171
    {SEC_ERROR_DUPLICATE_CERT, nullptr}, // -8170
    {SEC_ERROR_DUPLICATE_CERT_NAME, nullptr}, // -8169
    {SEC_ERROR_ADDING_CERT, nullptr}, // -8168
    {SEC_ERROR_FILING_KEY, nullptr}, // -8167
    {SEC_ERROR_NO_KEY, nullptr}, // -8166
    {SEC_ERROR_CERT_VALID, nullptr}, // -8165
    {SEC_ERROR_CERT_NOT_VALID, nullptr}, // -8164
    {SEC_ERROR_CERT_NO_RESPONSE, nullptr}, // -8163
    {SEC_ERROR_EXPIRED_ISSUER_CERTIFICATE, nullptr}, // -8162
    {SEC_ERROR_CRL_EXPIRED, nullptr}, // -8161
    {SEC_ERROR_CRL_BAD_SIGNATURE, nullptr}, // -8160
    {SEC_ERROR_CRL_INVALID, nullptr}, // -8159
    {SEC_ERROR_EXTENSION_VALUE_INVALID, nullptr}, // -8158
    {SEC_ERROR_EXTENSION_NOT_FOUND, nullptr}, // -8157
    {SEC_ERROR_CA_CERT_INVALID, nullptr}, // -8156
    {SEC_ERROR_PATH_LEN_CONSTRAINT_INVALID, nullptr}, // -8155
    {SEC_ERROR_CERT_USAGES_INVALID, nullptr}, // -8154
    {SEC_INTERNAL_ONLY, nullptr}, // -8153
    {SEC_ERROR_INVALID_KEY, nullptr}, // -8152
    {SEC_ERROR_UNKNOWN_CRITICAL_EXTENSION, nullptr}, // -8151
    {SEC_ERROR_OLD_CRL, nullptr}, // -8150
    {SEC_ERROR_NO_EMAIL_CERT, nullptr}, // -8149
    {SEC_ERROR_NO_RECIPIENT_CERTS_QUERY, nullptr}, // -8148
    {SEC_ERROR_NOT_A_RECIPIENT, nullptr}, // -8147
    {SEC_ERROR_PKCS7_KEYALG_MISMATCH, nullptr}, // -8146
    {SEC_ERROR_PKCS7_BAD_SIGNATURE, nullptr}, // -8145
    {SEC_ERROR_UNSUPPORTED_KEYALG, nullptr}, // -8144
    {SEC_ERROR_DECRYPTION_DISALLOWED, nullptr}, // -8143
    {XP_SEC_FORTEZZA_BAD_CARD, nullptr}, // -8142
    {XP_SEC_FORTEZZA_NO_CARD, nullptr}, // -8141
    {XP_SEC_FORTEZZA_NONE_SELECTED, nullptr}, // -8140
    {XP_SEC_FORTEZZA_MORE_INFO, nullptr}, // -8139
    {XP_SEC_FORTEZZA_PERSON_NOT_FOUND, nullptr}, // -8138
    {XP_SEC_FORTEZZA_NO_MORE_INFO, nullptr}, // -8137
    {XP_SEC_FORTEZZA_BAD_PIN, nullptr}, // -8136
    {XP_SEC_FORTEZZA_PERSON_ERROR, nullptr}, // -8135
    {SEC_ERROR_NO_KRL, nullptr}, // -8134
    {SEC_ERROR_KRL_EXPIRED, nullptr}, // -8133
    {SEC_ERROR_KRL_BAD_SIGNATURE, nullptr}, // -8132
    {SEC_ERROR_REVOKED_KEY, nullptr}, // -8131
    {SEC_ERROR_KRL_INVALID, nullptr}, // -8130
    {SEC_ERROR_NEED_RANDOM, nullptr}, // -8129
    {SEC_ERROR_NO_MODULE, nullptr}, // -8128
    {SEC_ERROR_NO_TOKEN, nullptr}, // -8127
    {SEC_ERROR_READ_ONLY, nullptr}, // -8126
    {SEC_ERROR_NO_SLOT_SELECTED, nullptr}, // -8125
    {SEC_ERROR_CERT_NICKNAME_COLLISION, nullptr}, // -8124
    {SEC_ERROR_KEY_NICKNAME_COLLISION, nullptr}, // -8123
    {SEC_ERROR_SAFE_NOT_CREATED, nullptr}, // -8122
    {SEC_ERROR_BAGGAGE_NOT_CREATED, nullptr}, // -8121
    {XP_JAVA_REMOVE_PRINCIPAL_ERROR, nullptr}, // -8120
    {XP_JAVA_DELETE_PRIVILEGE_ERROR, nullptr}, // -8119
    {XP_JAVA_CERT_NOT_EXISTS_ERROR, nullptr}, // -8118
    {SEC_ERROR_BAD_EXPORT_ALGORITHM, nullptr}, // -8117
    {SEC_ERROR_EXPORTING_CERTIFICATES, nullptr}, // -8116
    {SEC_ERROR_IMPORTING_CERTIFICATES, nullptr}, // -8115
    {SEC_ERROR_PKCS12_DECODING_PFX, nullptr}, // -8114
    {SEC_ERROR_PKCS12_INVALID_MAC, nullptr}, // -8113
    {SEC_ERROR_PKCS12_UNSUPPORTED_MAC_ALGORITHM, nullptr}, // -8112
    {SEC_ERROR_PKCS12_UNSUPPORTED_TRANSPORT_MODE, nullptr}, // -8111
    {SEC_ERROR_PKCS12_CORRUPT_PFX_STRUCTURE, nullptr}, // -8110
    {SEC_ERROR_PKCS12_UNSUPPORTED_PBE_ALGORITHM, nullptr}, // -8109
    {SEC_ERROR_PKCS12_UNSUPPORTED_VERSION, nullptr}, // -8108
    {SEC_ERROR_PKCS12_PRIVACY_PASSWORD_INCORRECT, nullptr}, // -8107
    {SEC_ERROR_PKCS12_CERT_COLLISION, nullptr}, // -8106
    {SEC_ERROR_USER_CANCELLED, nullptr}, // -8105
    {SEC_ERROR_PKCS12_DUPLICATE_DATA, nullptr}, // -8104
    {SEC_ERROR_MESSAGE_SEND_ABORTED, nullptr}, // -8103
    {SEC_ERROR_INADEQUATE_KEY_USAGE, nullptr}, // -8102
    {SEC_ERROR_INADEQUATE_CERT_TYPE, nullptr}, // -8101
    {SEC_ERROR_CERT_ADDR_MISMATCH, nullptr}, // -8100
    {SEC_ERROR_PKCS12_UNABLE_TO_IMPORT_KEY, nullptr}, // -8099
    {SEC_ERROR_PKCS12_IMPORTING_CERT_CHAIN, nullptr}, // -8098
    {SEC_ERROR_PKCS12_UNABLE_TO_LOCATE_OBJECT_BY_NAME, nullptr}, // -8097
    {SEC_ERROR_PKCS12_UNABLE_TO_EXPORT_KEY, nullptr}, // -8096
    {SEC_ERROR_PKCS12_UNABLE_TO_WRITE, nullptr}, // -8095
    {SEC_ERROR_PKCS12_UNABLE_TO_READ, nullptr}, // -8094
    {SEC_ERROR_PKCS12_KEY_DATABASE_NOT_INITIALIZED, nullptr}, // -8093
    {SEC_ERROR_KEYGEN_FAIL, nullptr}, // -8092
    {SEC_ERROR_INVALID_PASSWORD, nullptr}, // -8091
    {SEC_ERROR_RETRY_OLD_PASSWORD, nullptr}, // -8090
    {SEC_ERROR_BAD_NICKNAME, nullptr}, // -8089
    {SEC_ERROR_NOT_FORTEZZA_ISSUER, nullptr}, // -8088
    {SEC_ERROR_CANNOT_MOVE_SENSITIVE_KEY, nullptr}, // -8087
    {SEC_ERROR_JS_INVALID_MODULE_NAME, nullptr}, // -8086
    {SEC_ERROR_JS_INVALID_DLL, nullptr}, // -8085
    {SEC_ERROR_JS_ADD_MOD_FAILURE, nullptr}, // -8084
    {SEC_ERROR_JS_DEL_MOD_FAILURE, nullptr}, // -8083
    {SEC_ERROR_OLD_KRL, nullptr}, // -8082
    {SEC_ERROR_CKL_CONFLICT, nullptr}, // -8081
    {SEC_ERROR_CERT_NOT_IN_NAME_SPACE, nullptr}, // -8080
    {SEC_ERROR_KRL_NOT_YET_VALID, nullptr}, // -8079
    {SEC_ERROR_CRL_NOT_YET_VALID, nullptr}, // -8078
    {SEC_ERROR_UNKNOWN_CERT, nullptr}, // -8077
    {SEC_ERROR_UNKNOWN_SIGNER, nullptr}, // -8076
    {SEC_ERROR_CERT_BAD_ACCESS_LOCATION, nullptr}, // -8075
    {SEC_ERROR_OCSP_UNKNOWN_RESPONSE_TYPE, nullptr}, // -8074
    {SEC_ERROR_OCSP_BAD_HTTP_RESPONSE, nullptr}, // -8073
    {SEC_ERROR_OCSP_MALFORMED_REQUEST, nullptr}, // -8072
    {SEC_ERROR_OCSP_SERVER_ERROR, nullptr}, // -8071
    {SEC_ERROR_OCSP_TRY_SERVER_LATER, nullptr}, // -8070
    {SEC_ERROR_OCSP_REQUEST_NEEDS_SIG, nullptr}, // -8069
    {SEC_ERROR_OCSP_UNAUTHORIZED_REQUEST, nullptr}, // -8068
    {SEC_ERROR_OCSP_UNKNOWN_RESPONSE_STATUS, nullptr}, // -8067
    {SEC_ERROR_OCSP_UNKNOWN_CERT, nullptr}, // -8066
    {SEC_ERROR_OCSP_NOT_ENABLED, nullptr}, // -8065
    {SEC_ERROR_OCSP_NO_DEFAULT_RESPONDER, nullptr}, // -8064
    {SEC_ERROR_OCSP_MALFORMED_RESPONSE, nullptr}, // -8063
    {SEC_ERROR_OCSP_UNAUTHORIZED_RESPONSE, nullptr}, // -8062
    {SEC_ERROR_OCSP_FUTURE_RESPONSE, nullptr}, // -8061
    {SEC_ERROR_OCSP_OLD_RESPONSE, nullptr}, // -8060
    // NSPR: 70 codes from PR_NSPR_ERROR_BASE (-6000) up to -5931
    {PR_OUT_OF_MEMORY_ERROR, nullptr}, // -6000
    {PR_BAD_DESCRIPTOR_ERROR, nullptr}, // -5999
    {PR_WOULD_BLOCK_ERROR, nullptr}, // -5998
    {PR_ACCESS_FAULT_ERROR, nullptr}, // -5997
    {PR_INVALID_METHOD_ERROR, nullptr}, // -5996
    {PR_ILLEGAL_ACCESS_ERROR, nullptr}, // -5995
    {PR_UNKNOWN_ERROR, nullptr}, // -5994
    {PR_PENDING_INTERRUPT_ERROR, nullptr}, // -5993
    {PR_NOT_IMPLEMENTED_ERROR, nullptr}, // -5992
    {PR_IO_ERROR, nullptr}, // -5991
    {PR_IO_TIMEOUT_ERROR, nullptr}, // -5990
    {PR_IO_PENDING_ERROR, nullptr}, // -5989
    {PR_DIRECTORY_OPEN_ERROR, nullptr}, // -5988
    {PR_INVALID_ARGUMENT_ERROR, nullptr}, // -5987
    {PR_ADDRESS_NOT_AVAILABLE_ERROR, nullptr}, // -5986
    {PR_ADDRESS_NOT_SUPPORTED_ERROR, nullptr}, // -5985
    {PR_IS_CONNECTED_ERROR, nullptr}, // -5984
    {PR_BAD_ADDRESS_ERROR, nullptr}, // -5983
    {PR_ADDRESS_IN_USE_ERROR, nullptr}, // -5982
    {PR_CONNECT_REFUSED_ERROR, nullptr}, // -5981
    {PR_NETWORK_UNREACHABLE_ERROR, nullptr}, // -5980
    {PR_CONNECT_TIMEOUT_ERROR, nullptr}, // -5979
    {PR_NOT_CONNECTED_ERROR, nullptr}, // -5978
    {PR_LOAD_LIBRARY_ERROR, nullptr}, // -5977
    {PR_UNLOAD_LIBRARY_ERROR, nullptr}, // -5976
    {PR_FIND_SYMBOL_ERROR, nullptr}, // -5975
    {PR_INSUFFICIENT_RESOURCES_ERROR, nullptr}, // -5974
    {PR_DIRECTORY_LOOKUP_ERROR, nullptr}, // -5973
    {PR_TPD_RANGE_ERROR, nullptr}, // -5972
    {PR_PROC_DESC_TABLE_FULL_ERROR, nullptr}, // -5971
    {PR_SYS_DESC_TABLE_FULL_ERROR, nullptr}, // -5970
    {PR_NOT_SOCKET_ERROR, nullptr}, // -5969
    {PR_NOT_TCP_SOCKET_ERROR, nullptr}, // -5968
    {PR_SOCKET_ADDRESS_IS_BOUND_ERROR, nullptr}, // -5967
    {PR_NO_ACCESS_RIGHTS_ERROR, nullptr}, // -5966
    {PR_OPERATION_NOT_SUPPORTED_ERROR, nullptr}, // -5965
    {PR_PROTOCOL_NOT_SUPPORTED_ERROR, nullptr}, // -5964
    {PR_REMOTE_FILE_ERROR, nullptr}, // -5963
    {PR_BUFFER_OVERFLOW_ERROR, nullptr}, // -5962
    {PR_CONNECT_RESET_ERROR, nullptr}, // -5961
    {PR_RANGE_ERROR, nullptr}, // -5960
    {PR_DEADLOCK_ERROR, nullptr}, // -5959
    {PR_FILE_IS_LOCKED_ERROR, nullptr}, // -5958
    {PR_FILE_TOO_BIG_ERROR, nullptr}, // -5957
    {PR_NO_DEVICE_SPACE_ERROR, nullptr}, // -5956
    {PR_PIPE_ERROR, nullptr}, // -5955
    {PR_NO_SEEK_DEVICE_ERROR, nullptr}, // -5954
    {PR_IS_DIRECTORY_ERROR, nullptr}, // -5953
    {PR_LOOP_ERROR, nullptr}, // -5952
    {PR_NAME_TOO_LONG_ERROR, nullptr}, // -5951
    {PR_FILE_NOT_FOUND_ERROR, nullptr}, // -5950
    {PR_NOT_DIRECTORY_ERROR, nullptr}, // -5949
    {PR_READ_ONLY_FILESYSTEM_ERROR, nullptr}, // -5948
    {PR_DIRECTORY_NOT_EMPTY_ERROR, nullptr}, // -5947
    {PR_FILESYSTEM_MOUNTED_ERROR, nullptr}, // -5946
    {PR_NOT_SAME_DEVICE_ERROR, nullptr}, // -5945
    {PR_DIRECTORY_CORRUPTED_ERROR, nullptr}, // -5944
    {PR_FILE_EXISTS_ERROR, nullptr}, // -5943
    {PR_MAX_DIRECTORY_ENTRIES_ERROR, nullptr}, // -5942
    {PR_INVALID_DEVICE_STATE_ERROR, nullptr}, // -5941
    {PR_DEVICE_IS_LOCKED_ERROR, nullptr}, // -5940
    {PR_NO_MORE_FILES_ERROR, nullptr}, // -5939
    {PR_END_OF_FILE_ERROR, nullptr}, // -5938
    {PR_FILE_SEEK_ERROR, nullptr}, // -5937
    {PR_FILE_IS_BUSY_ERROR, nullptr}, // -5936
    {PR_OPERATION_ABORTED_ERROR, nullptr}, // -5935
    {PR_IN_PROGRESS_ERROR, nullptr}, // -5934
    {PR_ALREADY_INITIATED_ERROR, nullptr}, // -5933
    {PR_GROUP_EMPTY_ERROR, nullptr}, // -5932
    {PR_INVALID_STATE_ERROR, nullptr}, // -5931
    // Always last.
    {-5925, "Placeholder for the end of the list"},
};

constexpr int kErrorCount = sizeof kErrors / sizeof kErrors[0];

const char *entry_text(const ErrorEntry &entry) {
  if (entry.text) {
    return entry.text;
  }
  // PR_ErrorToString formats unknown codes into a shared buffer; only ask for
  // codes whose table is registered.
  if (PR_ErrorToName(entry.code) == nullptr) {
    return "Unknown error";
  }
  const char *text = PR_ErrorToString(entry.code, PR_LANGUAGE_I_DEFAULT);
  return text ? text : "Unknown error";
}

PRCallOnceType check_once;

PRStatus check_table_order() {
  PRErrorCode last = PR_INT32_MIN;
  for (int i = 0; i < kErrorCount; ++i) {
    const PRErrorCode code = kErrors[i].code;
    if (i > 0 && code <= last) {
      std::fprintf(stderr,
                   "sequence error in error strings at item %d\n"
                   "error %d (%s)\n"
                   "should come after \n"
                   "error %d (%s)\n",
                   i, code, entry_text(kErrors[i]), last, entry_text(kErrors[i - 1]));
    }
    last = code;
  }
  return PR_SUCCESS;
}

}  // namespace

const char *error_text(PRErrorCode code) {
  PR_CallOnce(&check_once, check_table_order);
  // The security and SSL libraries register their texts when they start; make
  // sure the security library's are there even before NSS_Init succeeded.
  NSS_InitializePRErrorTable();

  int low = 0;
  int high = kErrorCount - 1;
  while (low + 1 < high) {
    const int i = (low + high) / 2;
    const PRErrorCode num = kErrors[i].code;
    if (code == num) {
      return entry_text(kErrors[i]);
    }
    if (code < num) {
      high = i;
    } else {
      low = i;
    }
  }
  if (code == kErrors[low].code) {
    return entry_text(kErrors[low]);
  }
  if (code == kErrors[high].code) {
    return entry_text(kErrors[high]);
  }
  // Not in the table (for example the TLS 1.3 codes of current NSS): the
  // library's own message when it has one.
  if (PR_ErrorToName(code) != nullptr) {
    if (const char *text = PR_ErrorToString(code, PR_LANGUAGE_I_DEFAULT)) {
      return text;
    }
  }
  return "Unknown error";
}

}  // namespace tlsprobe
