#include "tests/tools/dnt_proxy/web_certificates.h"

#include <fstream>
#include <stdexcept>

#include "tests/tools/program_run.h"

namespace proxy_test {
namespace {

namespace fs = std::filesystem;
using tools_test::Quoted;

constexpr const char* NewKey = "-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2";

void Openssl(const std::string& arguments, const fs::path& directory) {
  const auto run = tools_test::RunProgram("cd " + Quoted(directory.string()) + " && openssl " + arguments, directory);
  if (run.exitCode != 0) throw std::runtime_error("openssl " + arguments + ": " + run.err);
}

std::string AltNames(const std::vector<std::string>& names) {
  std::string text = "subjectAltName=";
  for (std::size_t i = 0; i < names.size(); ++i) text += (i ? ",DNS:" : "DNS:") + names[i];
  return text;
}

}  // namespace

WebCertificates MakeWebCertificates(const fs::path& directory, const std::vector<std::string>& names,
                                    const std::string& selfSignedName) {
  fs::create_directories(directory);
  Openssl(std::string("req -x509 ") + NewKey + " -keyout web-ca.key -out web-ca.crt -subj '/CN=test web CA'" +
              " -addext 'basicConstraints=critical,CA:TRUE' -addext 'keyUsage=critical,keyCertSign'",
          directory);
  Openssl(std::string("req ") + NewKey + " -keyout origin.key -out origin.csr -subj '/CN=test origin'", directory);
  std::ofstream(directory / "origin.ext") << AltNames(names) << "\nextendedKeyUsage=serverAuth\n";
  Openssl("x509 -req -in origin.csr -CA web-ca.crt -CAkey web-ca.key -CAcreateserial -days 2 -extfile origin.ext "
          "-out origin.crt",
          directory);
  Openssl(std::string("req -x509 ") + NewKey + " -keyout self.key -out self.crt -subj " + Quoted("/CN=" + selfSignedName) +
              " -addext " + Quoted(AltNames({selfSignedName})),
          directory);
  return {directory / "web-ca.crt",
          {(directory / "origin.crt").string(), (directory / "origin.key").string()},
          {(directory / "self.crt").string(), (directory / "self.key").string()}};
}

}  // namespace proxy_test
