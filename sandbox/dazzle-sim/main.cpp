// dazzle-sim: a stand-in for Endicia DAZzle. Reads the package file named on
// its command line and writes the results file named by the root's
// OutputFile attribute, the way DAZzle answers. Markers in a package's
// ToName or ReferenceID choose the answer (see sandbox/README.md).

#include "platform/xml.h"
#include "sandbox/sim_markers.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

using tw::xml::Document;
using tw::xml::Node;

namespace {

using tw::sandbox::sim::fnv1a;
using tw::sandbox::sim::marker;

std::string digits(std::uint64_t seed, int count)
{
    std::string out;
    for (int i = 0; i < count; ++i) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        out += char('0' + (seed >> 33) % 10);
    }
    return out;
}

std::string childText(const Node &parent, const char *name)
{
    Node child = parent.element(name);
    return child ? child.text() : std::string();
}

void setChild(Node parent, const char *name, const std::string &text)
{
    Node child = parent.element(name);
    if (!child) child = parent.appendElement(name);
    child.setText(text);
}

void removeChild(Node parent, const char *name)
{
    if (Node child = parent.element(name)) child.remove();
}

std::optional<double> number(const std::string &text)
{
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return std::nullopt;
    char *end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end) return std::nullopt;
    return v;
}

std::string postage(const std::string &mailClass, const std::string &packageType, double ounces)
{
    double price;
    if (packageType == "FLATRATEENVELOPE")
        price = mailClass.rfind("INTL", 0) == 0 ? 13.45 : 4.95;
    else if (packageType == "FLATRATEBOX" || packageType == "FLATRATELARGEBOX")
        price = mailClass.rfind("INTL", 0) == 0 ? 41.95 : 10.85;
    else {
        double base = 1.95, perOunce = 0.17;
        if (mailClass == "PRIORITY") base = 4.95, perOunce = 0.45;
        if (mailClass == "EXPRESS") base = 17.50, perOunce = 1.10;
        if (mailClass == "MEDIAMAIL" || mailClass == "PARCELPOST") base = 2.41, perOunce = 0.12;
        if (mailClass.rfind("INTL", 0) == 0) base = 3.20, perOunce = 0.85;
        price = base + perOunce * std::ceil(ounces);
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", price);
    return text;
}

std::string now(const char *format)
{
    std::time_t t = std::time(nullptr);
    char text[32];
    std::strftime(text, sizeof text, format, std::localtime(&t));
    return text;
}

// Fills in DAZzle's answer for one package (a copy of the one it was given).
void answer(Node package, bool testMode)
{
    const std::string markers = childText(package, "ToName") + " " + childText(package, "ReferenceID");
    const std::string seedText = package.xml();
    const std::uint64_t seed = fnv1a(seedText);
    const std::optional<double> ounces = number(childText(package, "WeightOz"));
    const bool international = !childText(package, "ToCountry").empty();

    std::string status = "Success";
    if (std::optional<std::string> code = marker(markers, "DAZZLE-ERROR"))
        status = "Rejected (" + *code + ")";
    else if (!ounces || *ounces <= 0)
        status = "Rejected (-4)";
    else if (testMode)
        status = "Test Print (0)";

    setChild(package, "Status", status);
    removeChild(package, "PIC");
    removeChild(package, "CustomsNumber");
    if (status != "Success") {
        setChild(package, "FinalPostage", "0.00");
        return;
    }
    if (!marker(markers, "DAZZLE-NOTRACKING")) {
        if (international)
            setChild(package, "CustomsNumber", "LZ" + digits(seed, 9) + "US");
        else
            setChild(package, "PIC", "9400" + digits(seed, 18));
    }
    setChild(package, "FinalPostage",
             postage(childText(package, "MailClass"), childText(package, "PackageType"), ounces.value_or(0)));
    setChild(package, "TransactionID", digits(seed ^ 0x5a5a, 6));
    setChild(package, "TransactionDateTime", now("%Y%m%d%H%M%S"));
    setChild(package, "PostmarkDate", now("%Y%m%d"));
}

bool writeAll(const std::filesystem::path &file, const std::string &bytes)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    out.flush();
    return bool(out);
}

int usage()
{
    std::cerr << "usage: dazzle-sim PACKAGE-FILE\n"
                 "Writes the results file named by the package's OutputFile attribute.\n";
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2 || std::string(argv[1]) == "--help") return usage();
    const std::filesystem::path packageFile = argv[1];
    std::string error;
    Document package = Document::load(packageFile, &error);
    if (!package || !package.root() || package.root().name() != "DAZzle") {
        std::cerr << "dazzle-sim: cannot read the package file " << packageFile << ": "
                  << (error.empty() ? "no DAZzle element" : error) << "\n";
        return 2;
    }
    const std::filesystem::path outputFile = package.root().attribute("OutputFile");
    if (outputFile.empty()) {
        std::cerr << "dazzle-sim: the package file names no OutputFile\n";
        return 2;
    }
    const bool testMode = package.root().attribute("Test") == "YES";

    Document results;
    results.setRoot(results.createElement("DAZzle"));
    std::string markers;
    for (const Node &p : package.root().elements()) {
        if (p.name() != "Package") continue;
        const std::string own = childText(p, "ToName") + " " + childText(p, "ReferenceID") + " ";
        markers += own;
        if (marker(own, "DAZZLE-EMPTY")) continue;
        answer(results.root().append(results.importNode(p, true)), testMode);
    }
    const std::string bytes = results.toString();

    // Until the test says so (the file <OutputFile>.continue) or the time is up.
    auto hold = [&outputFile](const std::string &arg) {
        const int ms = arg.empty() ? 3000 : std::atoi(arg.c_str());
        std::filesystem::path go = outputFile;
        go += ".continue";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        std::error_code ec;
        while (std::chrono::steady_clock::now() < deadline && !std::filesystem::exists(go, ec))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::filesystem::remove(go, ec);
    };
    if (std::optional<std::string> slow = marker(markers, "DAZZLE-SLOW")) {
        // Half a file first, as a reader polling the folder would meet it.
        if (!writeAll(outputFile, bytes.substr(0, bytes.size() / 2))) return 3;
        hold(*slow);
        if (!writeAll(outputFile, bytes)) return 3;
    } else {
        // A label that takes its time (the printer, a prompt): no file before.
        if (std::optional<std::string> late = marker(markers, "DAZZLE-LATE")) hold(*late);
        if (!tw::xml::writeFileAtomically(outputFile, bytes, &error)) {
            std::cerr << "dazzle-sim: cannot write " << outputFile << ": " << error << "\n";
            return 3;
        }
    }
    std::cout << "dazzle-sim: wrote " << outputFile.string() << "\n";
    return 0;
}
