// worldship-sim: a stand-in for UPS WorldShip's automatic XML import. Watches
// a folder; each KORVA.xml that appears there is "processed": renamed to
// KORVA.xxx and answered with KORVA.Out, which carries a tracking number.
// A marker in the ship-to name, company or a reference chooses the answer
// (see sandbox/README.md).

#include "platform/xml.h"
#include "sandbox/sim_markers.h"

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

using tw::xml::Document;
using tw::xml::Node;
namespace fs = std::filesystem;

namespace {

using tw::sandbox::sim::fnv1a;
using tw::sandbox::sim::marker;

int checkValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    return (c - 'A' + 2) % 10;
}

// 1Z, six characters of the shipper number, two of the service, seven
// digits of the shipment, and UPS's check digit.
std::string trackingNumber(const Node &shipment)
{
    std::string shipper;
    for (char c : shipment.select("ShipmentInformation/ShipperNumber").text())
        if (std::isalnum(static_cast<unsigned char>(c)) && shipper.size() < 6)
            shipper += char(std::toupper(static_cast<unsigned char>(c)));
    shipper.resize(6, '0');
    const std::string service = shipment.select("ShipmentInformation/ServiceType").text();
    std::string code = service == "1DA" ? "01" : service == "2DA" ? "02" : service == "3DS" ? "12" : "03";
    std::uint64_t h = fnv1a(shipment.select("ShipTo").text() + "|" + shipment.select("Package").text());
    std::string serial = std::to_string(h % 10000000);
    serial.insert(0, 7 - serial.size(), '0');
    const std::string body = shipper + code + serial;
    int sum = 0;
    for (size_t i = 0; i < body.size(); ++i)
        sum += checkValue(body[i]) * (i % 2 == 0 ? 1 : 2);
    return "1Z" + body + char('0' + (10 - sum % 10) % 10);
}

// Turns one import file into the output file. False when it cannot be read.
bool process(const fs::path &folder)
{
    const fs::path importFile = folder / "KORVA.xml";
    std::string error;
    Document imported = Document::load(importFile, &error);
    if (!imported || !imported.root()) return false;

    Document out;
    out.setRoot(out.importNode(imported.root(), true));
    std::string markers;
    if (Node shipment = out.root().element("OpenShipment")) {
        for (const char *path : {"ShipTo/CompanyOrName", "ShipTo/Attention", "Package/Reference1", "Package/Reference2",
                                 "Package/Reference3", "Package/Reference4"})
            markers += shipment.select(path).text() + " ";
        if (std::optional<std::string> text = marker(markers, "WORLDSHIP-ERROR")) {
            shipment.setAttribute("ProcessStatus", "Error");
            Node error = shipment.appendElement("ProcessMessage").appendElement("Error");
            error.appendElement("ErrorCode", "120");
            error.appendElement("ErrorDescription", text->empty() ? "The shipment could not be processed" : *text);
        } else {
            shipment.setAttribute("ProcessStatus", "Processed");
            if (!marker(markers, "WORLDSHIP-NOMESSAGE")) {
                Node message = shipment.appendElement("ProcessMessage");
                message.appendElement("ShipID", "0001");
                message.appendElement("TrackingNumbers").appendElement("TrackingNumber", trackingNumber(shipment));
            }
        }
    }
    std::error_code ec;
    fs::rename(importFile, folder / "KORVA.xxx", ec);
    if (std::optional<std::string> late = marker(markers, "WORLDSHIP-LATE")) {
        // Taken at once, answered once the test says so (KORVA.Out.continue)
        // or the time is up.
        const fs::path go = folder / "KORVA.Out.continue";
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::milliseconds(late->empty() ? 3000 : std::atoi(late->c_str()));
        while (std::chrono::steady_clock::now() < deadline && !fs::exists(go, ec))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        fs::remove(go, ec);
    }
    if (!tw::xml::writeFileAtomically(folder / "KORVA.Out", out.toString(), &error)) {
        std::cerr << "worldship-sim: cannot write KORVA.Out: " << error << "\n";
        return true;
    }
    std::cout << "worldship-sim: processed " << importFile.string() << "\n" << std::flush;
    return true;
}

int usage()
{
    std::cerr << "usage: worldship-sim FOLDER [--once] [--timeout SECONDS]\n"
                 "Answers each KORVA.xml in FOLDER with KORVA.Out. --once stops after one file;\n"
                 "--timeout gives up (exit 1) when no file came in that time.\n";
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    fs::path folder;
    bool once = false;
    double timeout = -1;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--once")
            once = true;
        else if (arg == "--timeout" && i + 1 < argc)
            timeout = std::atof(argv[++i]);
        else if (arg.rfind("--", 0) == 0 || !folder.empty())
            return usage();
        else
            folder = arg;
    }
    std::error_code ec;
    if (folder.empty() || !fs::is_directory(folder, ec)) return usage();

    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(static_cast<long long>(timeout * 1000));
    // An import file that does not parse may still be being written.
    int unreadableTicks = 0;
    for (;;) {
        if (fs::exists(folder / "KORVA.xml", ec)) {
            if (process(folder)) {
                unreadableTicks = 0;
                if (once) return 0;
                deadline = Clock::now() + std::chrono::milliseconds(static_cast<long long>(timeout * 1000));
            } else if (++unreadableTicks == 100) {
                std::cerr << "worldship-sim: KORVA.xml does not read as XML; left alone\n";
                fs::rename(folder / "KORVA.xml", folder / "KORVA.xxx", ec);
                unreadableTicks = 0;
            }
        }
        if (timeout >= 0 && Clock::now() >= deadline) {
            std::cerr << "worldship-sim: no KORVA.xml arrived in time\n";
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
