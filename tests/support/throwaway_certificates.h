#pragma once

#include <filesystem>

namespace zennic::testing {

// A certificate authority made for one test and a certificate for 127.0.0.1 that it signed.
// The files stay in the test's folder: nothing is added to the machine's trust store.
struct ThrowawayCertificates {
  std::filesystem::path ca_certificate;
  std::filesystem::path server_certificate;
  std::filesystem::path server_key;
};

// Made with the openssl command under `folder`/`name`; fails the test when it cannot.
ThrowawayCertificates MakeThrowawayCertificates(const std::filesystem::path& folder,
                                                const std::string& name);

}  // namespace zennic::testing
