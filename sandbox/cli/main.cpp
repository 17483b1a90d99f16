// tidewell-sandbox: the local eBay, USPS and PayPal stand-ins as a program of
// its own.

#include "platform/xml.h"
#include "sandbox/sandbox.h"

#include <QtCore/QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

namespace {

const char *kHelp = R"(Usage: tidewell-sandbox [options]

Local stand-ins for eBay's Trading API and web pages, USPS tracking (the web
tools and the REST API) and PayPal's NVP API, on one HTTP server on 127.0.0.1,
with generated data; PayPal's certificate endpoint runs on a TLS server of its
own.

Options:
  --port N            port to listen on (default 0: any free port)
  --orders N          number of generated orders (default 60)
  --buyers N          number of buyers (default: about 7 for every 12 orders)
  --seed N            seed of the generator; the same seed gives the same data
                      (default 20080105)
  --clock-skew S      eBay's clock runs S seconds ahead of the local clock
                      turned to UTC (negative: behind; default 0)
  --config-out FILE   where to write the Tidewell configuration that points
                      every eBay, USPS and PayPal address at this server
                      (default ./tidewell-sandbox.ini)
  --data-dir DIR      also write DIR/Settings.xml holding the demo OAuth
                      sign-in (a refresh token), the seller's user id and the
                      sandbox's PayPal and USPS API
                      credentials, and DIR/ShippingLabels.xml with three
                      labels, two of them cheaper than the buyer paid (the
                      view offers a refund), each unless it exists already
  --usps-api API      the USPS transport that Settings.xml chooses: WebTools
                      (default) or REST
  --dazzle-exe PATH   with --data-dir: Settings.xml's DAZzle program (point it
                      at dazzle-sim), written when the file has none yet
  --worldship-folder DIR
                      with --data-dir: Settings.xml's WorldShip import folder
                      (the folder worldship-sim watches), written when the
                      file has none yet; the demo's UPS account comes with it
  --tls-dir DIR       where the test certificates of PayPal's certificate
                      endpoint are made with the openssl command (default: the
                      folder of --config-out, subfolder tidewell-sandbox-tls)
  --tls-port N        port of the certificate endpoint (default 0: any free)
  --no-tls            no certificate endpoint
  --fault FAULT       inject a fault; may be given more than once. FAULT is
                      CALL:KIND[:NTH[:TIMES]] where CALL is an eBay call name,
                      eBay's IdentityToken or getUserRateLimits, TrackV2, a
                      USPS REST call (OAuthToken, TrackingV3, TrackingV3r2),
                      a PayPal method (GetTransactionDetails,
                      RefundTransaction), a page path or * for every
                      request; KIND is delay=MS, 500, drop, malformed,
                      truncated, warning, failure or html; expired (the
                      user token presented is revoked and refused; on
                      IdentityToken: invalid_grant) for eBay and USPS REST;
                      and for USPS REST 429=SECONDS (Retry-After), 403 or
                      mixed (207 with every second answer an error); NTH picks
                      the n-th request of CALL (0 = every one, the
                      default); TIMES is how often it fires (default 1;
                      -1 = always)
  --log               print one line per request on standard error
  --help              show this text and exit

Run Tidewell against it:
  tidewell --config FILE --data-dir DIR
With --data-dir the program starts signed in through OAuth (the demo refresh
token); without it, "Authorize eBay Account" walks through the sandbox's
consent page. The demo Auth'n'Auth token is accepted on every call too:
)";

[[noreturn]] void usage(const std::string &problem)
{
    std::fprintf(stderr, "tidewell-sandbox: %s\nTry --help.\n", problem.c_str());
    std::exit(2);
}

long long toNumber(const std::string &flag, const std::string &text)
{
    try {
        std::size_t used = 0;
        long long v = std::stoll(text, &used);
        if (used != text.size()) throw std::invalid_argument(text);
        return v;
    } catch (...) {
        usage(flag + " needs a number, not \"" + text + "\"");
    }
}

tw::sandbox::Fault parseFault(const std::string &text)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    // Page paths hold no ':'; split on all of them.
    while (true) {
        std::size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon - start));
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    if (parts.size() < 2 || parts.size() > 4) usage("bad --fault " + text);
    tw::sandbox::Fault f;
    f.call = parts[0] == "*" ? "" : parts[0];
    const std::string &kind = parts[1];
    using K = tw::sandbox::FaultKind;
    if (kind.rfind("delay=", 0) == 0) {
        f.kind = K::Delay;
        f.delayMs = int(toNumber("--fault delay", kind.substr(6)));
    } else if (kind == "500")
        f.kind = K::Http500;
    else if (kind == "drop")
        f.kind = K::Drop;
    else if (kind == "malformed")
        f.kind = K::MalformedXml;
    else if (kind == "truncated")
        f.kind = K::Truncated;
    else if (kind == "warning")
        f.kind = K::AckWarning;
    else if (kind == "failure")
        f.kind = K::AckFailure;
    else if (kind == "html")
        f.kind = K::HtmlPage;
    else if (kind == "expired")
        f.kind = K::TokenExpired;
    else if (kind == "403")
        f.kind = K::Forbidden;
    else if (kind == "mixed")
        f.kind = K::MixedAnswers;
    else if (kind == "429" || kind.rfind("429=", 0) == 0) {
        f.kind = K::RateLimited;
        if (kind.size() > 4) f.retryAfterSeconds = int(toNumber("--fault 429", kind.substr(4)));
    } else
        usage("unknown fault kind " + kind);
    if (parts.size() > 2) f.nth = int(toNumber("--fault NTH", parts[2]));
    if (parts.size() > 3) f.times = int(toNumber("--fault TIMES", parts[3]));
    return f;
}

// Points the settings at the shipping simulators where they name no
// program or folder yet; a seller's own choice stays.
bool pointAtSimulators(const std::filesystem::path &file, const std::filesystem::path &dazzleExe,
                       const std::filesystem::path &worldShipFolder, std::string *error)
{
    tw::xml::Document doc = tw::xml::Document::load(file, error);
    if (!doc || !doc.root()) return false;
    bool changed = false;
    auto fill = [&](const char *key, const std::string &value) {
        tw::xml::Node node = doc.root().element(key);
        if (!node) node = doc.root().appendElement(key);
        if (!node.text().empty()) return;
        node.setText(value);
        changed = true;
    };
    if (!dazzleExe.empty()) fill("DazzleExePath", std::filesystem::absolute(dazzleExe).string());
    if (!worldShipFolder.empty()) {
        std::filesystem::create_directories(worldShipFolder);
        fill("UPSWorldShipAutoXMLImportFolder", std::filesystem::absolute(worldShipFolder).string());
        fill("UPSAccount", "X9D3T4");
    }
    return !changed || doc.save(file, error);
}

// Labels of a few shipped PayPal orders as if printed through DAZzle: two
// cheaper than the buyer paid for shipping (the view offers their refund),
// one dearer.
tw::xml::Document demoLabels(const tw::sandbox::State &state)
{
    tw::xml::Document doc;
    doc.setRoot(doc.createElement("ShippingLabels"));
    int made = 0;
    for (const auto &o : state.orders) {
        if (o.paymentMethod != "PayPal" || !o.isShipped() || o.shippingCost < 2 || o.trackingNumber.empty()) continue;
        const auto payment = state.paypal.find(o.paypalTransactionId);
        if (payment == state.paypal.end() || payment->second.pendingFetches > 0) continue;
        char postage[32];
        std::snprintf(postage, sizeof postage, "%.2f", o.shippingCost + (made < 2 ? -0.75 : 0.40));
        tw::xml::Node label = doc.root().appendElement("ShippingLabel");
        tw::xml::Node item = label.appendElement("PackingList").appendElement("Item");
        item.appendElement("ItemID", o.itemId);
        item.appendElement("TransactionID", o.transactionId);
        label.appendElement("Carrier", "USPS");
        label.appendElement("TrackingNumber", o.trackingNumber);
        label.appendElement("Postage", postage);
        if (++made == 3) break;
    }
    return doc;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    tw::sandbox::Options options;
    long long port = 0;
    std::filesystem::path configOut = "tidewell-sandbox.ini";
    std::filesystem::path dataDir;
    std::vector<tw::sandbox::Fault> faults;
    bool log = false;
    bool tls = true;
    long long tlsPort = 0;
    std::filesystem::path tlsDir;
    std::string uspsApi = "WebTools";
    std::filesystem::path dazzleExe, worldShipFolder;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::printf("%s  %s\n", kHelp, tw::sandbox::kDemoToken);
            return 0;
        } else if (arg == "--port") {
            port = toNumber(arg, value());
            if (port < 0 || port > 65535) usage("--port must be 0 to 65535");
        } else if (arg == "--orders") {
            options.data.orders = int(toNumber(arg, value()));
            if (options.data.orders < 0) usage("--orders may not be negative");
        } else if (arg == "--buyers") {
            options.data.buyers = int(toNumber(arg, value()));
        } else if (arg == "--seed") {
            options.data.seed = std::uint64_t(toNumber(arg, value()));
        } else if (arg == "--clock-skew") {
            options.clockSkewSeconds = int(toNumber(arg, value()));
        } else if (arg == "--config-out") {
            configOut = value();
        } else if (arg == "--data-dir") {
            dataDir = value();
        } else if (arg == "--fault") {
            faults.push_back(parseFault(value()));
        } else if (arg == "--log") {
            log = true;
        } else if (arg == "--tls-dir") {
            tlsDir = value();
        } else if (arg == "--tls-port") {
            tlsPort = toNumber(arg, value());
            if (tlsPort < 0 || tlsPort > 65535) usage("--tls-port must be 0 to 65535");
        } else if (arg == "--usps-api") {
            uspsApi = value();
            if (uspsApi != "WebTools" && uspsApi != "REST") usage("--usps-api is WebTools or REST");
        } else if (arg == "--dazzle-exe") {
            dazzleExe = value();
        } else if (arg == "--worldship-folder") {
            worldShipFolder = value();
        } else if (arg == "--no-tls") {
            tls = false;
        } else {
            usage("unknown option " + arg);
        }
    }

    tw::sandbox::Sandbox sandbox(options);
    std::string error;
    if (!sandbox.start(static_cast<unsigned short>(port), &error)) {
        std::fprintf(stderr, "tidewell-sandbox: cannot listen on port %lld: %s\n", port, error.c_str());
        return 1;
    }
    if (tls) {
        if (tlsDir.empty()) tlsDir = std::filesystem::absolute(configOut).parent_path() / "tidewell-sandbox-tls";
        tw::sandbox::TlsFiles files;
        if (!tw::sandbox::makeTestCertificates(tlsDir, &files, &error) ||
            !sandbox.startTls(files, static_cast<unsigned short>(tlsPort), &error))
            std::fprintf(stderr, "tidewell-sandbox: no PayPal certificate endpoint: %s\n", error.c_str());
    }
    for (const auto &f : faults)
        sandbox.injectFault(f);
    if (log)
        sandbox.setRequestObserver([](const tw::sandbox::LoggedRequest &r) {
            std::fprintf(stderr, "#%d %s %s %s -> %d%s\n", r.number, r.method.c_str(), r.service.c_str(),
                         r.call.c_str(), r.status, r.faults.empty() ? "" : " (fault)");
        });
    // The settings first: whoever waits for the configuration finds them complete.
    if (!dataDir.empty()) {
        std::filesystem::create_directories(dataDir);
        const auto settings = dataDir / "Settings.xml";
        if (!std::filesystem::exists(settings)) {
            tw::xml::Document doc;
            doc.setRoot(doc.createElement("Settings"));
            doc.root().appendElement("eBayID", sandbox.state().sellerId);
            // Signed in through OAuth: every eBay call of the demo carries a
            // user access token renewed from this refresh token.
            std::string ends = sandbox.ebayNow().addDays(540).toString();
            ends[10] = 'T';
            doc.root().appendElement("eBayOAuthRefreshToken", tw::sandbox::kDemoRefreshToken);
            doc.root().appendElement("eBayOAuthRefreshTokenExpirationTime", ends + "Z");
            doc.root().appendElement("PaypalAPIUser", tw::sandbox::kPaypalUser);
            doc.root().appendElement("PaypalAPIPassword", tw::sandbox::kPaypalPassword);
            doc.root().appendElement("PaypalAPISignature", tw::sandbox::kPaypalSignature);
            doc.root().appendElement("PaypalAPIAuthMode", "Signature");
            doc.root().appendElement("FlagPostageDifferences", "True");
            doc.root().appendElement("USPSTrackingApi", uspsApi);
            doc.root().appendElement("USPSClientID", tw::sandbox::kUspsClientId);
            doc.root().appendElement("USPSClientSecret", tw::sandbox::kUspsClientSecret);
            if (!doc.save(settings, &error)) {
                std::fprintf(stderr, "tidewell-sandbox: cannot write %s: %s\n", settings.string().c_str(),
                             error.c_str());
                return 1;
            }
        }
        if (!dazzleExe.empty() || !worldShipFolder.empty()) {
            if (!pointAtSimulators(settings, dazzleExe, worldShipFolder, &error)) {
                std::fprintf(stderr, "tidewell-sandbox: cannot write %s: %s\n", settings.string().c_str(),
                             error.c_str());
                return 1;
            }
        }
        const auto labels = dataDir / "ShippingLabels.xml";
        if (!std::filesystem::exists(labels) && !demoLabels(sandbox.state()).save(labels, &error)) {
            std::fprintf(stderr, "tidewell-sandbox: cannot write %s: %s\n", labels.string().c_str(), error.c_str());
            return 1;
        }
    }
    if (!sandbox.writeConfig(configOut, &error)) {
        std::fprintf(stderr, "tidewell-sandbox: cannot write %s: %s\n", configOut.string().c_str(), error.c_str());
        return 1;
    }
    std::printf("tidewell-sandbox listening on %s\n", sandbox.baseUrl().c_str());
    std::printf("configuration: %s\n", std::filesystem::absolute(configOut).string().c_str());
    if (sandbox.tlsPort() != 0)
        std::printf("PayPal certificate endpoint: https://127.0.0.1:%u/nvp\n", unsigned(sandbox.tlsPort()));
    std::printf("orders: %zu, buyers: %zu, seller: %s\n", sandbox.state().orders.size(), sandbox.state().buyers.size(),
                sandbox.state().sellerId.c_str());
    std::printf("demo token: %s\n", tw::sandbox::kDemoToken);
    std::fflush(stdout);
    return app.exec();
}
