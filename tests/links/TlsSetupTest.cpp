// A TLS link's files, read when the link is made: each way they can be wrong
// refuses the link with the file and the reason, and such a link never listens or
// connects.
#include <gtest/gtest.h>

#include <filesystem>

#include "links/LinkTexts.h"
#include "links/TcpClientLink.h"
#include "links/TcpServerLink.h"
#include "support/QuietPortSide.h"
#include "support/TlsFiles.h"

using namespace qlntest;

namespace {

struct FileCase {
    const char* Name;
    bool Server;
    // Changes the good settings of the side into bad ones, in `folder`.
    void (*Spoil)(TlsSettings& tls, const TempFolder& folder);
    // What the refusal says, with "{CERT}", "{KEY}" and "{CA}" for the paths.
    std::vector<std::string> Says;
};

std::string Copy(const std::string& from, const TempFolder& folder, const char* name, mode_t mode)
{
    const std::string to = folder.File(name);
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    chmod(to.c_str(), mode);
    return to;
}

class TlsSetupTest : public ::testing::TestWithParam<FileCase> {};

TEST_P(TlsSetupTest, AFileThatCannotServeRefusesTheLinkWithTheReason)
{
    const TlsFiles& files = TlsFiles::Get();
    ASSERT_TRUE(files.Made) << files.Why;
    const FileCase& row = GetParam();
    TempFolder folder;
    LinkOptions options;
    options.Tls = row.Server ? TlsSettings {true, files.Server.Cert, files.Server.Key, files.Ca.Cert}
                             : TlsSettings {true, files.Client.Cert, files.Client.Key, files.Ca.Cert};
    row.Spoil(options.Tls, folder);
    QuietPortSide side;
    std::unique_ptr<CNetObject> link;
    if (row.Server)
        link = std::make_unique<TcpServerLink>(side, 0, options);
    else
        link = std::make_unique<TcpClientLink>(side, "127.0.0.1", 9, options);
    CGuard guard(side.Lock());
    const Failure why = link->Start();
    std::string says = why.Reason();
    for (auto [mark, path] : {std::pair {"{CERT}", options.Tls.Cert}, std::pair {"{KEY}", options.Tls.Key},
                              std::pair {"{CA}", options.Tls.CA}}) {
        for (size_t at; !path.empty() && (at = says.find(path)) != std::string::npos;)
            says.replace(at, path.size(), mark);
    }
    for (const std::string& part : row.Says)
        EXPECT_NE(says.find(part), std::string::npos) << says;
    EXPECT_EQ(link->Figures().LastError, why.Reason());
    EXPECT_FALSE(link->IsListening() && row.Server);
    EXPECT_EQ(link->GetLinkState(), LinkState::Unconnected);
    EXPECT_FALSE(link->CanReconnect());
}

INSTANTIATE_TEST_SUITE_P(
    Files, TlsSetupTest,
    ::testing::Values(
        FileCase {"ServerKeyOthersCanRead", true,
                  [](TlsSettings& tls, const TempFolder& folder) { tls.Key = Copy(tls.Key, folder, "k.pem", 0644); },
                  {"Permissions 0644 for {KEY} are too open", "chmod 600 {KEY}"}},
        FileCase {"ClientKeyGroupCanRead", false,
                  [](TlsSettings& tls, const TempFolder& folder) { tls.Key = Copy(tls.Key, folder, "k.pem", 0640); },
                  {"Permissions 0640 for {KEY}", "chmod 600 {KEY}"}},
        FileCase {"MissingCertificate", true,
                  [](TlsSettings& tls, const TempFolder& folder) { tls.Cert = folder.File("none.pem"); },
                  {"{CERT}: No such file or directory"}},
        FileCase {"DamagedCertificate", false,
                  [](TlsSettings& tls, const TempFolder& folder) {
                      tls.Cert = folder.File("bad.pem");
                      WriteFileText(tls.Cert, "-----BEGIN CERTIFICATE-----\nnot base64\n-----END CERTIFICATE-----\n");
                  },
                  {"{CERT}: "}},
        // In the user's words, the library's after them.
        FileCase {"KeyOfAnotherCertificate", true,
                  [](TlsSettings& tls, const TempFolder&) { tls.Key = TlsFiles::Get().Client.Key; },
                  {"{KEY} does not belong to {CERT}; OpenSSL: key values mismatch"}},
        FileCase {"CertificateAndKeySwapped", false,
                  [](TlsSettings& tls, const TempFolder&) { std::swap(tls.Cert, tls.Key); },
                  {"{CERT} is not a certificate (is it the key?); OpenSSL: "}},
        FileCase {"CaIsAKey", true, [](TlsSettings& tls, const TempFolder&) { tls.CA = TlsFiles::Get().Ca.Key; },
                  {"{CA} is not a certificate (is it the key?); OpenSSL: "}},
        FileCase {"KeyIsACertificate", true,
                  [](TlsSettings& tls, const TempFolder& folder) { tls.Key = Copy(tls.Cert, folder, "k.pem", 0644); },
                  {"{KEY} is not a private key (is it the certificate?)"}},
        FileCase {"DamagedCa", true,
                  [](TlsSettings& tls, const TempFolder& folder) {
                      tls.CA = folder.File("ca.pem");
                      WriteFileText(tls.CA, "garbage");
                  },
                  {"{CA}: "}},
        FileCase {"ServerWithoutKey", true, [](TlsSettings& tls, const TempFolder&) { tls.Key.clear(); },
                  {"A TLS server link needs a certificate and a key."}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(LinkTextsTest, IntervalsInSeconds)
{
    EXPECT_EQ(StalledText(30000), "took nothing for 30 s; the others were waiting");
    EXPECT_EQ(HandshakeTooLongText(1500), "the TLS handshake took longer than 1.5 s");
    EXPECT_EQ(SecondsText(250), "0.25 s");
    EXPECT_EQ(ClientLimitText(1), "the limit of 1 client is reached");
}

} // namespace
