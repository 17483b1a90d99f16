// The eBay, USPS and UPS web pages the program opens or links to.

#include "sandbox/impl.h"

#include <QtCore/QString>

namespace tw::sandbox {

namespace {

Reply html(const std::string &title, const std::string &body, int status = 200)
{
    Reply r;
    r.status = status;
    r.contentType = "text/html; charset=utf-8";
    r.body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + xml::escape(title) +
             "</title></head>\n<body>\n<h1>" + xml::escape(title) + "</h1>\n" + body + "\n</body></html>\n";
    return r;
}

bool pathIs(const std::string &path, const char *expected)
{
    return QString::fromStdString(path).compare(QLatin1String(expected), Qt::CaseInsensitive) == 0;
}

bool pathStarts(const std::string &path, const char *prefix)
{
    return QString::fromStdString(path).startsWith(QLatin1String(prefix), Qt::CaseInsensitive);
}

// The first query piece, the ISAPI command ("SignIn", "ReturnUserEmail" ...).
std::string command(const std::vector<std::pair<std::string, std::string>> &params)
{
    return params.empty() ? std::string() : params.front().first;
}

} // namespace

Reply Sandbox::Impl::page(const Request &request)
{
    const auto params = splitQuery(request.query, true);
    const std::string cmd = command(params);
    const std::string &path = request.path;

    if (path == "/" || path.empty()) {
        std::string body = "<p>Local stand-ins for eBay and USPS. Orders: " + std::to_string(state.orders.size()) +
                           ", buyers: " + std::to_string(state.buyers.size()) +
                           ", questions: " + std::to_string(state.questions.size()) +
                           ", feedback: " + std::to_string(state.feedback.size()) + ".</p>\n<ul>";
        for (const char *p : {"/ws/api.dll (POST, Trading API)", "/ShippingAPI.dll?API=TrackV2&XML=...",
                              "/signin/ws/eBayISAPI.dll?SignIn&runame=...&SessID=...",
                              "/contact/ws/eBayISAPI.dll?ReturnUserEmail&requested=..."})
            body += "<li>" + xml::escape(p) + "</li>";
        return html("Tidewell sandbox", body + "</ul>");
    }

    // ---- sign-in and authorisation ----
    if (pathIs(path, "/signin/ws/eBayISAPI.dll")) {
        const std::string session = queryValue(params, "SessID");
        auto it = state.sessions.find(session);
        if (cmd == "SignIn") {
            if (queryValue(params, "runame") != ids.get("ebay/RuName"))
                return html("Sign in error", "<p id=\"error\">The application's RuName is not valid.</p>", 400);
            if (it == state.sessions.end())
                return html("Sign in error", "<p id=\"error\">This sign-in session has expired or does not exist.</p>",
                            400);
            const std::string grant = "/signin/ws/eBayISAPI.dll?GrantAccess&SessID=" + percentEncode(session);
            return html(
                "Sign in",
                "<p>Tidewell would like to access your eBay account.</p>\n"
                "<form id=\"grantForm\" method=\"post\" action=\"" +
                    xml::escape(grant) +
                    "\">\n"
                    "<label>User ID <input type=\"text\" id=\"userid\" name=\"userid\" value=\"" +
                    xml::escape(state.sellerId) +
                    "\"></label>\n"
                    "<label>Password <input type=\"password\" id=\"pass\" name=\"pass\" value=\"sandbox\"></label>\n"
                    "<button type=\"submit\" id=\"agree\" name=\"agree\">I agree</button>\n</form>\n"
                    "<p><a id=\"cancel\" href=\"" +
                    xml::escape(base() + "/signin/aw-secure/auth_auth_cancel.html?") + "\">No thanks</a></p>");
        }
        if (cmd == "GrantAccess") {
            if (it == state.sessions.end())
                return html("Sign in error", "<p id=\"error\">This sign-in session has expired or does not exist.</p>",
                            400);
            std::string user = queryValue(splitQuery(request.body, true), "userid");
            if (user.empty()) user = queryValue(params, "userid");
            if (user.empty()) user = state.sellerId;
            it->second.userId = user;
            Reply r = html("Redirecting", "<p>Redirecting...</p>", 302);
            r.headers.emplace_back("Location", base() + "/signin/aw-secure/auth_auth_thanks.html?tknexp=" +
                                                   percentEncode(ebayTime(ebayNow().addDays(540))) +
                                                   "&username=" + percentEncode(user) + "&ebaytkn=");
            return r;
        }
        return html("Sign in", "<p>Unknown request.</p>", 400);
    }
    if (pathIs(path, "/signin/aw-secure/auth_auth_thanks.html"))
        return html("Thank you",
                    "<p>Thank you. You have successfully agreed to let this application access your eBay account.</p>");
    if (pathIs(path, "/signin/aw-secure/auth_auth_cancel.html"))
        return html("Authorization cancelled",
                    "<p>You did not agree to let this application access your eBay account.</p>");

    // ---- contact page ----
    if (pathIs(path, "/contact/ws/eBayISAPI.dll")) {
        if (request.method == "POST") {
            const auto form = splitQuery(request.body, true);
            const std::string buyer = queryValue(form, "requested");
            const std::string subject = queryValue(form, "subject");
            const std::string message = queryValue(form, "message");
            std::string item = queryValue(form, "iid");
            if (item.empty()) item = queryValue(form, "ItemID");
            if (message.empty() || buyer.empty())
                return html("Contact member", "<p id=\"error\">Please enter a message.</p>");
            state.addSentMessage(
                {"", item, buyer, subject.empty() ? std::string("Question from seller") : subject, message, ebayNow()});
            return html("Contact member",
                        "<p id=\"result\">Your question has been sent to " + xml::escape(buyer) + ".</p>");
        }
        if (cmd != "ReturnUserEmail") return html("Contact member", "<p>Nothing to show.</p>");
        const std::string buyer = queryValue(params, "requested");
        std::string item = queryValue(params, "iid");
        if (item.empty()) item = queryValue(params, "ItemID");
        std::string title;
        if (const Order *o = state.firstOrderOfItem(item)) title = o->title;
        return html(
            "Contact member",
            "<p>To: <span id=\"recipient\">" + xml::escape(buyer) + "</span><br>Item: <span id=\"item\">" +
                xml::escape(item) + " " + xml::escape(title) +
                "</span></p>\n"
                "<form id=\"contactForm\" name=\"contactForm\" method=\"post\" action=\"" +
                xml::escape(base() + "/contact/ws/eBayISAPI.dll") +
                "\">\n"
                "<input type=\"hidden\" name=\"requested\" value=\"" +
                xml::escape(buyer) +
                "\">\n"
                "<input type=\"hidden\" name=\"iid\" value=\"" +
                xml::escape(item) +
                "\">\n"
                "<input type=\"hidden\" name=\"TransactionID\" value=\"" +
                xml::escape(queryValue(params, "TransactionID")) +
                "\">\n"
                "<p><label>Subject <input type=\"text\" id=\"subject\" name=\"subject\" size=\"60\"></label></p>\n"
                "<p><textarea id=\"message\" name=\"message\" rows=\"12\" cols=\"70\"></textarea></p>\n"
                "<button type=\"submit\" id=\"send\" name=\"send\">Send</button>\n</form>");
    }

    // ---- item, feedback and sales-record pages ----
    if (pathIs(path, "/item/ws/eBayISAPI.dll")) {
        const std::string item = queryValue(params, "item");
        const Order *o = state.firstOrderOfItem(item);
        if (!o) return html("Item not found", "<p>This listing (" + xml::escape(item) + ") was not found.</p>", 404);
        return html(o->title, "<p>Item number: " + xml::escape(o->itemId) + "</p><p>Price: US $" + money(o->price) +
                                  "</p><p>Custom label: " + xml::escape(o->sku) + "</p>");
    }
    if (pathIs(path, "/feedback/ws/eBayISAPI.dll")) {
        std::string user = queryValue(params, "userid");
        if (user.empty()) user = state.sellerId;
        std::string rows;
        int shown = 0;
        for (const Feedback &f : state.feedback) {
            if (user != state.sellerId && f.commentingUser != user) continue;
            rows += "<tr><td>" + xml::escape(f.commentType) + "</td><td>" + xml::escape(f.commentText) + "</td><td>" +
                    xml::escape(f.commentingUser) + "</td><td>" + ebayTime(f.commentTime) + "</td></tr>\n";
            if (++shown == 25) break;
        }
        return html("Feedback profile: " + user, "<table id=\"feedback\">\n" + rows + "</table>");
    }
    if (pathIs(path, "/salesrecord/ws/eBayISAPI.dll")) {
        const Order *o = state.findOrder(queryValue(params, "itemid"), queryValue(params, "transid"));
        if (!o) return html("Sales record", "<p>No such sales record.</p>", 404);
        const Buyer &b = state.buyers[o->buyer];
        return html("Sales record #" + std::to_string(o->salesRecordNumber),
                    "<p>Buyer: " + xml::escape(b.userId) + " (" + xml::escape(b.address.name) +
                        ")</p><p>Item: " + xml::escape(o->title) + " x " + std::to_string(o->quantity) +
                        "</p><p>Paid: " + (o->isPaid() ? ebayTime(o->paid) : std::string("not yet")) +
                        "</p><p>Shipped: " + (o->isShipped() ? ebayTime(o->shipped) : std::string("not yet")) + "</p>");
    }

    // ---- carrier tracking pages ----
    if (pathStarts(path, "/usps")) {
        std::string number = queryValue(params, "strOrigTrackNum");
        if (number.empty()) number = queryValue(params, "tLabels");
        auto it = state.tracking.find(number);
        return html("USPS Track & Confirm",
                    "<p>Label/Receipt Number: " + xml::escape(number) + "</p><p>Status: " +
                        (it == state.tracking.end() ? std::string("Not found")
                                                    : xml::escape(trackingStatusName(it->second.status))) +
                        "</p>");
    }
    if (pathStarts(path, "/ups")) {
        std::string number = queryValue(params, "tracknum");
        if (number.empty()) number = queryValue(params, "InquiryNumber1");
        return html("UPS Tracking", "<p>Tracking number: " + xml::escape(number) + "</p><p>Status: In transit</p>");
    }
    return html("Not found", "<p>" + xml::escape(path) + " is not served here.</p>", 404);
}

} // namespace tw::sandbox
