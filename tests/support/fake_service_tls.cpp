#include "tests/support/fake_service_tls.hpp"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace zephlar::testing {
namespace {

struct Free {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(X509* p) const { X509_free(p); }
  void operator()(BIO* p) const { BIO_free(p); }
  void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Free>;
using CertPtr = std::unique_ptr<X509, Free>;
using BioPtr = std::unique_ptr<BIO, Free>;
using ExtPtr = std::unique_ptr<X509_EXTENSION, Free>;

[[noreturn]] void fail(const char* what) { throw std::runtime_error(std::string("fake service TLS: ") + what); }

void check(bool ok, const char* what) {
  if (!ok) fail(what);
}

KeyPtr make_key() {
  KeyPtr key(EVP_EC_gen("P-256"));
  check(key != nullptr, "EC key generation failed");
  return key;
}

void set_name(X509_NAME* name, const char* common_name) {
  check(X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("zephlar tests"), -1,
                                   -1, 0) == 1,
        "subject");
  check(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(common_name), -1,
                                   -1, 0) == 1,
        "subject");
}

void add_extension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  ExtPtr ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
  check(ext != nullptr, "extension");
  check(X509_add_ext(cert, ext.get(), -1) == 1, "extension");
}

// A certificate for `key`, valid from an hour ago for ten years, signed by
// `issuer_key` (itself when issuer is null).
CertPtr make_certificate(EVP_PKEY* key, const char* common_name, X509* issuer, EVP_PKEY* issuer_key, bool ca) {
  CertPtr cert(X509_new());
  check(cert != nullptr, "X509_new");
  check(X509_set_version(cert.get(), 2) == 1, "version");
  unsigned char serial[16];
  check(RAND_bytes(serial, sizeof serial) == 1, "serial");
  serial[0] &= 0x7f;
  BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
  check(bn != nullptr && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get())) != nullptr, "serial");
  BN_free(bn);
  check(X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) != nullptr, "validity");
  check(X509_gmtime_adj(X509_getm_notAfter(cert.get()), 10L * 365 * 24 * 3600) != nullptr, "validity");
  check(X509_set_pubkey(cert.get(), key) == 1, "public key");
  set_name(X509_get_subject_name(cert.get()), common_name);
  X509* signer = issuer != nullptr ? issuer : cert.get();
  check(X509_set_issuer_name(cert.get(), X509_get_subject_name(signer)) == 1, "issuer");

  add_extension(cert.get(), signer, NID_subject_key_identifier, "hash");
  if (ca) {
    add_extension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
    add_extension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    add_extension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
    add_extension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
    add_extension(cert.get(), signer, NID_key_usage, "critical,digitalSignature");
    add_extension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
    add_extension(cert.get(), signer, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
  }
  check(X509_sign(cert.get(), issuer_key != nullptr ? issuer_key : key, EVP_sha256()) > 0, "signing");
  return cert;
}

std::string bio_text(BIO* bio) {
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  return std::string(data, static_cast<std::size_t>(size));
}

std::string certificate_pem(X509* cert) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  check(bio != nullptr && PEM_write_bio_X509(bio.get(), cert) == 1, "PEM");
  return bio_text(bio.get());
}

std::string key_pem(EVP_PKEY* key) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  check(bio != nullptr && PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1, "PEM");
  return bio_text(bio.get());
}

TlsIdentity make_identity() {
  KeyPtr root_key = make_key();
  CertPtr root = make_certificate(root_key.get(), "zephlar test root", nullptr, nullptr, true);
  KeyPtr server_key = make_key();
  CertPtr server = make_certificate(server_key.get(), "localhost", root.get(), root_key.get(), false);
  return {certificate_pem(root.get()), certificate_pem(server.get()), key_pem(server_key.get())};
}

}  // namespace

const TlsIdentity& tls_identity() {
  static const TlsIdentity identity = make_identity();
  return identity;
}

}  // namespace zephlar::testing
