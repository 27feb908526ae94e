/* The bare cost of one RSA PKCS#1 v1.5 signature on a PKCS#11 token through
 * libp11, the way the service reaches the token: log in once, then per
 * signature a fresh signing context over the SHA-256 DigestInfo.
 *
 *   token_sign MODULE TOKEN-LABEL KEY-LABEL PIN COUNT
 *
 * Prints "signatures/s p50_ms p99_ms mean_ms". */
#include <libp11.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static double now_ms(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

static int by_value(const void *a, const void *b) {
    double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

static int sign_once(EVP_PKEY *key, const unsigned char *tbs, size_t tbs_len) {
    unsigned char signature[1024];
    size_t size = sizeof signature;
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(key, NULL);
    int ok = ctx && EVP_PKEY_sign_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 &&
             EVP_PKEY_sign(ctx, signature, &size, tbs, tbs_len) == 1;
    EVP_PKEY_CTX_free(ctx);
    return ok;
}

int main(int argc, char **argv) {
    if (argc != 6) {
        fprintf(stderr, "usage: %s MODULE TOKEN-LABEL KEY-LABEL PIN COUNT\n", argv[0]);
        return 2;
    }
    int count = atoi(argv[5]);
    if (count < 1) count = 1;
    PKCS11_CTX *ctx = PKCS11_CTX_new();
    PKCS11_SLOT *slots = NULL;
    unsigned nslots = 0;
    if (PKCS11_CTX_load(ctx, argv[1]) != 0 || PKCS11_enumerate_slots(ctx, &slots, &nslots) != 0) {
        fprintf(stderr, "cannot load %s\n", argv[1]);
        return 1;
    }
    PKCS11_SLOT *slot = NULL;
    for (unsigned i = 0; i < nslots; ++i)
        if (slots[i].token && slots[i].token->initialized && strcmp(slots[i].token->label, argv[2]) == 0)
            slot = &slots[i];
    if (!slot || PKCS11_login(slot, 0, argv[4]) != 0) {
        fprintf(stderr, "no token %s or login refused\n", argv[2]);
        return 1;
    }
    PKCS11_KEY *keys = NULL, *key = NULL;
    unsigned nkeys = 0;
    PKCS11_enumerate_keys(slot->token, &keys, &nkeys);
    for (unsigned i = 0; i < nkeys; ++i)
        if (keys[i].label && strcmp(keys[i].label, argv[3]) == 0) key = &keys[i];
    EVP_PKEY *pkey = key ? PKCS11_get_private_key(key) : NULL;
    if (!pkey) {
        fprintf(stderr, "no key %s\n", argv[3]);
        return 1;
    }

    /* SHA-256 DigestInfo of 32 bytes. */
    static const unsigned char prefix[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                           0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
    unsigned char tbs[sizeof prefix + 32];
    memcpy(tbs, prefix, sizeof prefix);
    memset(tbs + sizeof prefix, 0x5a, 32);

    for (int i = 0; i < 10; ++i) sign_once(pkey, tbs, sizeof tbs);
    double *times = malloc(sizeof(double) * (size_t)count);
    double start = now_ms();
    for (int i = 0; i < count; ++i) {
        double t0 = now_ms();
        if (!sign_once(pkey, tbs, sizeof tbs)) {
            fprintf(stderr, "signature %d failed\n", i);
            return 1;
        }
        times[i] = now_ms() - t0;
    }
    double total = now_ms() - start;
    qsort(times, (size_t)count, sizeof(double), by_value);
    printf("%.0f %.3f %.3f %.3f\n", count / (total / 1e3), times[count / 2], times[(count * 99) / 100],
           total / count);
    free(times);
    EVP_PKEY_free(pkey);
    PKCS11_release_all_slots(ctx, slots, nslots);
    PKCS11_CTX_unload(ctx);
    PKCS11_CTX_free(ctx);
    return 0;
}
