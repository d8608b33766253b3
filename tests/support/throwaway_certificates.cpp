#include "support/throwaway_certificates.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/run_command.h"

namespace zennic::testing {
namespace {

void RunOpenssl(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "openssl");
  std::string output;
  ASSERT_EQ(RunCommand(arguments, &output), 0) << output;
}

}  // namespace

ThrowawayCertificates MakeThrowawayCertificates(const std::filesystem::path& folder,
                                                const std::string& name) {
  std::filesystem::path base = folder / name;
  std::filesystem::create_directories(base);
  ThrowawayCertificates made{base / "ca.crt", base / "server.crt", base / "server.key"};
  std::filesystem::path ca_key = base / "ca.key";
  const std::vector<std::string> new_key = {"-newkey", "ec", "-pkeyopt",
                                            "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2"};
  std::vector<std::string> ca = {"req", "-x509", "-subj", "/CN=Throwaway " + name,
                                 "-keyout", ca_key.string(), "-out", made.ca_certificate.string()};
  ca.insert(ca.end(), new_key.begin(), new_key.end());
  RunOpenssl(ca);
  std::vector<std::string> server = {
      "req", "-x509", "-CA", made.ca_certificate.string(), "-CAkey", ca_key.string(),
      "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
      "-addext", "basicConstraints=critical,CA:FALSE",
      "-keyout", made.server_key.string(), "-out", made.server_certificate.string()};
  server.insert(server.end(), new_key.begin(), new_key.end());
  RunOpenssl(server);
  return made;
}

}  // namespace zennic::testing
