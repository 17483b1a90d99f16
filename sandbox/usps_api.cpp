// USPS TrackV2 with TrackFieldRequest: one TrackInfo per number asked.

#include "sandbox/impl.h"

#include <array>

namespace tw::sandbox {

namespace {

using xml::Document;
using xml::Node;

Reply topLevelError(const std::string &number, const std::string &description, const std::string &source)
{
    Document doc;
    doc.setRoot(doc.createElement("Error"));
    Node root = doc.root();
    root.appendElement("Number", number);
    root.appendElement("Description", description);
    root.appendElement("Source", source);
    Reply r;
    r.body = doc.toString();
    return r;
}

const std::array<const char *, 12> kMonths = {"January", "February", "March",     "April",   "May",      "June",
                                              "July",    "August",   "September", "October", "November", "December"};

std::string uspsDate(const DateTime &t)
{
    return std::string(kMonths[t.month() - 1]) + " " + std::to_string(t.day()) + ", " + std::to_string(t.year());
}

std::string uspsTime(const DateTime &t)
{
    int h = t.hour() % 12;
    if (h == 0) h = 12;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d:%02d %s", h, t.minute(), t.hour() < 12 ? "am" : "pm");
    return buf;
}

using Event = TrackEvent;

void addEvent(Node parent, const char *name, const Event &e)
{
    Node n = parent.appendElement(name);
    n.appendElement("EventTime", uspsTime(e.when));
    n.appendElement("EventDate", uspsDate(e.when));
    n.appendElement("Event", e.text);
    n.appendElement("EventCity", e.city);
    n.appendElement("EventState", e.state);
    n.appendElement("EventZIPCode", e.zip);
    n.appendElement("EventCountry", e.country);
    n.appendElement("FirmName", "");
    n.appendElement("Name", "");
    n.appendElement("AuthorizedAgent", "false");
}

} // namespace

std::vector<TrackEvent> trackingHistory(const std::string &number, const Tracking &t, const DateTime &localNow)
{
    unsigned hash = 0;
    for (unsigned char c : number)
        hash = hash * 31 + c;
    const DateTime accepted = t.shippedLocal;
    const std::string originCity = "FALMOUTH", originState = "MA", originZip = "02540";
    std::vector<Event> e;
    auto clampNow = [&](DateTime d) { return d > localNow ? localNow : d; };
    e.push_back({accepted.addSecs(-7200), "Shipping Label Created", originCity, originState, originZip, ""});
    e.push_back({accepted, "Acceptance", originCity, originState, originZip, ""});
    const DateTime sorted = accepted.addSecs(3600 * (10 + hash % 8));
    if (sorted < localNow) e.push_back({sorted, "Processed through USPS Sort Facility", "BOSTON", "MA", "02205", ""});
    const DateTime arrive = accepted.addSecs(3600 * (40 + hash % 30));
    switch (t.status) {
    case TrackingStatus::InTransit:
        if (arrive < localNow) e.push_back({arrive, "Arrived at USPS Facility", "", "", "", ""});
        break;
    case TrackingStatus::Delivered:
        e.push_back({clampNow(arrive), "Out for Delivery", t.city, t.state, t.zip, ""});
        e.push_back({clampNow(arrive.addSecs(5 * 3600)), "Delivered", t.city, t.state, t.zip, ""});
        break;
    case TrackingStatus::DeliveredAbroad:
        e.push_back({clampNow(accepted.addSecs(30 * 3600)), "International Dispatch", "JAMAICA", "NY", "11430", ""});
        e.push_back({clampNow(arrive.addSecs(24 * 3600)), "Delivered Abroad", t.city, "", t.zip, "ABROAD"});
        break;
    case TrackingStatus::ArrivalAtUnit:
        e.push_back({clampNow(arrive.addSecs(12 * 3600)), "Arrival at Unit", t.city, t.state, t.zip, ""});
        break;
    }
    std::stable_sort(e.begin(), e.end(), [](const Event &a, const Event &b) { return a.when > b.when; });
    return e;
}

Reply Sandbox::Impl::usps(const Request &request, bool fail)
{
    if (fail)
        return topLevelError("80040B19", "The system is temporarily unavailable (injected by the sandbox).",
                             "USPSCOM::DoAuth");
    // XML is the last parameter and may arrive raw, so it is not split at "&".
    const std::string &q = request.query;
    const std::size_t xmlAt = q.rfind("XML=", std::string::npos);
    const auto params = splitQuery(q.substr(0, xmlAt == std::string::npos ? q.size() : xmlAt), true);
    const std::string api = queryValue(params, "API");
    if (api != "TrackV2")
        return topLevelError("80040B1A",
                             "API Authorization failure. " + api + " is not a valid API name for this protocol.",
                             "UspsCom::DoAuth");
    if (xmlAt == std::string::npos)
        return topLevelError("80040B19", "XML Syntax Error: Please check the XML request to see if it can be parsed.",
                             "USPSCOM::DoAuth");
    std::string raw = q.substr(xmlAt + 4);
    for (auto &c : raw)
        if (c == '+') c = ' ';
    const std::string text = QByteArray::fromPercentEncoding(QByteArray::fromStdString(raw)).toStdString();
    Document doc = Document::parse(text);
    if (!doc || !doc.root() || doc.root().name() != "TrackFieldRequest")
        return topLevelError("80040B19", "XML Syntax Error: Please check the XML request to see if it can be parsed.",
                             "USPSCOM::DoAuth");
    if (doc.root().attribute("USERID") != ids.get("usps/UserID"))
        return topLevelError("80040B1A", "Authorization failure.  Perhaps username and/or password is incorrect.",
                             "USPSCOM::DoAuth");
    std::vector<Node> trackIds = doc.root().selectAll("TrackID");
    if (trackIds.empty())
        return topLevelError("-2147219099", "Missing value for TrackID.", "clsTrackV2:ValidateRequest");
    if (trackIds.size() > 10)
        return topLevelError("-2147219097", "The request holds more than 10 TrackID elements.",
                             "clsTrackV2:ValidateRequest");

    const DateTime now = localNow();
    Document out;
    out.setRoot(out.createElement("TrackResponse"));
    Node root = out.root();
    for (Node id : trackIds) {
        const std::string number = id.attribute("ID");
        Node info = root.appendElement("TrackInfo");
        info.setAttribute("ID", number);
        auto it = state.tracking.find(number);
        if (it == state.tracking.end()) {
            Node err = info.appendElement("Error");
            err.appendElement("Number", "-2147219302");
            err.appendElement("Description",
                              "The tracking number may be incorrect or the status update is not yet available. "
                              "Please verify your tracking number and try again later.");
            err.appendElement("HelpFile", "");
            err.appendElement("HelpContext", "");
            continue;
        }
        const std::vector<Event> events = trackingHistory(number, it->second, now);
        addEvent(info, "TrackSummary", events.front());
        for (std::size_t i = 1; i < events.size(); ++i)
            addEvent(info, "TrackDetail", events[i]);
    }
    Reply r;
    r.body = out.toString();
    return r;
}

} // namespace tw::sandbox
