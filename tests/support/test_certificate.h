// Certificates made on the spot for TLS tests: a CA and a server certificate
// it signs, both PEM. Nothing is read from or trusted by the system.
//
//     TestCertificates certs = MakeTestCertificates();   // for 127.0.0.1 and localhost
//     HttpScriptServer server(TlsIdentity{certs.ServerCertPem, certs.ServerKeyPem});
//     dir.WriteFile("ca.pem", certs.CaPem);              // the client's only trust anchor
#pragma once

#include <string>
#include <vector>

struct TestCertificates {
    std::string CaPem;          // the self-signed CA
    std::string ServerCertPem;  // signed by the CA
    std::string ServerKeyPem;   // the server certificate's private key
};

// subjectAltNames in the form "IP:127.0.0.1", "DNS:localhost". Throws
// std::runtime_error when the library fails.
TestCertificates MakeTestCertificates(const std::vector<std::string>& subjectAltNames = {
                                          "IP:127.0.0.1", "DNS:localhost"});
