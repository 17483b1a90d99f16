// Test certificates for PayPal's certificate endpoint, made with the openssl
// command: nothing of the kind is kept in the source tree.

#include "sandbox/sandbox.h"

#include <QtCore/QProcess>
#include <QtCore/QStringList>

#include <fstream>

namespace tw::sandbox {

namespace {

constexpr int kStepMs = 30000;

bool openssl(const std::filesystem::path &dir, const QStringList &arguments, std::string *error)
{
    QProcess process;
    process.setWorkingDirectory(QString::fromStdString(dir.string()));
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start("openssl", arguments);
    if (!process.waitForStarted(kStepMs)) {
        if (error) *error = "cannot run openssl: " + process.errorString().toStdString();
        return false;
    }
    if (!process.waitForFinished(kStepMs)) {
        process.kill();
        process.waitForFinished(1000);
        if (error) *error = "openssl " + arguments.first().toStdString() + " did not finish";
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        if (error)
            *error = "openssl " + arguments.join(' ').toStdString() +
                     " failed: " + process.readAll().trimmed().toStdString();
        return false;
    }
    return true;
}

bool writeText(const std::filesystem::path &file, const std::string &text, std::string *error)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.good()) {
        if (error) *error = "cannot write " + file.string();
        return false;
    }
    return true;
}

// An authority `name` (name.pem, name.key).
bool makeAuthority(const std::filesystem::path &dir, const QString &name, const QString &subject, std::string *error)
{
    return openssl(dir,
                   {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                    name + ".key", "-out", name + ".pem", "-days", "3650", "-subj", subject},
                   error);
}

// A key and certificate `name` signed by `authority`, with the extensions in
// `extensions`.
bool makeSigned(const std::filesystem::path &dir, const QString &name, const QString &subject, const QString &authority,
                const std::string &extensions, std::string *error)
{
    return writeText(dir / (name.toStdString() + ".ext"), extensions, error) &&
           openssl(dir,
                   {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                    name + ".key", "-out", name + ".csr", "-subj", subject},
                   error) &&
           openssl(dir,
                   {"x509", "-req", "-in", name + ".csr", "-CA", authority + ".pem", "-CAkey", authority + ".key",
                    "-CAcreateserial", "-out", name + ".pem", "-days", "3650", "-extfile", name + ".ext"},
                   error);
}

bool makePkcs12(const std::filesystem::path &dir, const QString &name, const std::string &password, std::string *error)
{
    return openssl(dir,
                   {"pkcs12", "-export", "-in", name + ".pem", "-inkey", name + ".key", "-out", name + ".p12", "-name",
                    name, "-passout", "pass:" + QString::fromStdString(password)},
                   error);
}

} // namespace

bool makeTestCertificates(const std::filesystem::path &dir, TlsFiles *files, std::string *error)
{
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        if (error) *error = "cannot create " + dir.string() + ": " + ec.message();
        return false;
    }
    const std::string password = "tidewell-test";
    const std::string client = "extendedKeyUsage=clientAuth\n";
    if (!makeAuthority(dir, "ca", "/CN=Tidewell Sandbox Test Authority", error) ||
        !makeSigned(dir, "server", "/CN=127.0.0.1", "ca",
                    "subjectAltName=IP:127.0.0.1,DNS:localhost\nextendedKeyUsage=serverAuth\n", error) ||
        !makeSigned(dir, "client", "/CN=korva_seller_api1", "ca", client, error) ||
        !makePkcs12(dir, "client", password, error) ||
        !makeAuthority(dir, "stranger-ca", "/CN=Some Other Authority", error) ||
        !makeSigned(dir, "stranger", "/CN=someone_else_api1", "stranger-ca", client, error) ||
        !makePkcs12(dir, "stranger", password, error))
        return false;
    TlsFiles out;
    out.caCertificate = dir / "ca.pem";
    out.serverCertificate = dir / "server.pem";
    out.serverKey = dir / "server.key";
    out.clientCertificate = dir / "client.p12";
    out.clientPassword = password;
    out.strangerCertificate = dir / "stranger.p12";
    if (files) *files = out;
    return true;
}

} // namespace tw::sandbox
