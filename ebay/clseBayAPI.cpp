#include "ebay/clseBayAPI.h"

#include "ebay/oauth.h"
#include "pages/pages.h"
#include "platform/clock.h"
#include "platform/config.h"
#include "platform/text.h"
#include "store/basFunctions.h"
#include "store/order_index.h"
#include "store/settings.h"

#include <algorithm>
#include <cstdlib>
#include <map>

namespace tw::ebay {
namespace {

constexpr const char *kHead = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

std::string open(const std::string &call)
{
    return "<" + call + "Request xmlns=\"urn:ebay:apis:eBLBaseComponents\">";
}
std::string close(const std::string &call)
{
    return "</" + call + "Request>";
}

const std::string kCredentials = "  <RequesterCredentials>"
                                 "    <eBayAuthToken></eBayAuthToken>"
                                 "  </RequesterCredentials>";
const std::string kCredentialsOneLine =
    "  <RequesterCredentials><eBayAuthToken></eBayAuthToken></RequesterCredentials>";

xml::Document load(const std::string &text)
{
    return xml::Document::parse(text);
}

int toInt(const std::string &text)
{
    return std::atoi(text.c_str());
}

bool isTrue(const std::string &text)
{
    return equalsNoCase(text, "true");
}

std::string sellerTransactionsText(const std::string &messageId, bool byDays)
{
    std::string t = kHead + open("GetSellerTransactions") + kCredentials + "  <MessageID>" + messageId +
                    "</MessageID>"
                    "  <Pagination>"
                    "    <EntriesPerPage>10</EntriesPerPage>"
                    "    <PageNumber>1</PageNumber>"
                    "  </Pagination>";
    t += byDays ? "  <NumberOfDays></NumberOfDays>" : "  <ModTimeFrom></ModTimeFrom>  <ModTimeTo></ModTimeTo>";
    return t + "  <DetailLevel>ReturnAll</DetailLevel>" + close("GetSellerTransactions");
}

std::string sentMessagesHead()
{
    return kHead + open("GetMyMessages") + "  <MessageID>SynchronousGetSentMessages</MessageID>" + kCredentials;
}

// Sets the text of an element that the template already holds; a missing
// element is not created.
void setExisting(xml::Document &doc, const std::string &xpath, const std::string &value)
{
    if (xml::Node n = doc.select(xpath)) n.setText(value);
}

} // namespace

std::string shortMessage(const xml::Document &response)
{
    return response ? GetNodeText(response.root(), "Errors/ShortMessage") : std::string();
}

struct clseBayAPI::PagedCall {
    std::string callName;
    std::string arrayName;
    std::string moreName;
    std::string overlay;
    std::string bookmarkKey; // empty: the bookmark is not touched
    std::string bookmarkValue;
};

clseBayAPI::clseBayAPI(Session &session, Shell &shell)
    : m_session(session), m_shell(shell), m_connection(session.store.settings())
{
}

int clseBayAPI::maxDays() const
{
    // A value that is not a positive number falls back to the default window.
    int days = toInt(settings::read(m_session.store.settings(), "GetSellerTransactionsMaxDays"));
    if (days <= 0 || days > 28) days = 28;
    return days;
}

void clseBayAPI::showSignInHealth()
{
    // The second panel keeps the word on the sign-in while the first one
    // shows each call's news; renewing needs the menu entry.
    const std::string notice = signInNotice(m_session.store.settings());
    m_shell.setStatus(notice.empty() ? m_connection.signInProblem() : notice, 2);
    if (!notice.empty() || !m_connection.signInProblem().empty()) m_shell.setEnabled("mnuAuthorizeeBayID", true);
}

bool clseBayAPI::saveSettings()
{
    return m_session.store.save(store::Doc::Settings);
}

xml::Document clseBayAPI::send(const std::string &callName, const std::string &level, xml::Document &request)
{
    xml::Document answer = m_connection.StartSynchronousRequest(callName, level, request);
    m_answered = answer.root() && answer.root().element("Ack");
    if (answer.isNull())
        m_problem = "another eBay exchange is still running";
    else if (!m_connection.signInProblem().empty() || !answer.root())
        m_problem = m_connection.lastProblem();
    else if (GetNodeText(answer.root(), "Ack") == "Failure")
        m_problem = "eBay answered: " + shortMessage(answer);
    else
        m_problem.clear();
    if (!answer.isNull()) showSignInHealth();
    return answer;
}

xml::Document clseBayAPI::pageLoop(const PagedCall &call, xml::Document &request, settings::Bookmark *bookmark)
{
    if (bookmark) *bookmark = {};
    const std::string resp = call.callName + "Response";
    const std::string pageXPath = call.callName + "Request/Pagination/PageNumber";
    xml::Document result(nullptr);
    std::string totalPages;
    int retries = 0;
    for (;;) {
        std::string overlay = call.overlay;
        if (!totalPages.empty())
            overlay += "<br>Page " + GetNodeText(request, pageXPath, "1") + " of " + xml::escape(totalPages);
        m_shell.ProcessingImageDisplay(overlay);

        xml::Document response = send(call.callName, "573", request);
        if (response.isNull()) return xml::Document(nullptr);
        std::string ack = GetNodeText(response, resp + "/Ack");
        if (ack == "Failure") {
            m_shell.setStatus("Error: " + GetNodeText(response, resp + "/Errors/ShortMessage"));
            return xml::Document(nullptr);
        }
        if (ack != "Success") {
            if (++retries > kMaxPageRetries) {
                m_shell.setStatus("Error: eBay did not confirm page " + GetNodeText(request, pageXPath, "1") + " (" +
                                  (ack.empty() ? std::string("no valid answer") : "answer \"" + ack + "\"") +
                                  ") after " + std::to_string(kMaxPageRetries + 1) +
                                  " attempts; the download was stopped.");
                return xml::Document(nullptr);
            }
            continue;
        }
        retries = 0;

        if (!result) {
            result = response.clone();
        } else if (xml::Node from = response.select(resp + "/" + call.arrayName)) {
            for (xml::Node child : from.elements()) {
                xml::Node to = result.select(resp + "/" + call.arrayName);
                if (!to) to = result.select(resp).appendElement(call.arrayName);
                to.append(child);
            }
        }

        if (!isTrue(GetNodeText(response, resp + "/" + call.moreName))) {
            if (bookmark && !call.bookmarkKey.empty()) *bookmark = {call.bookmarkKey, call.bookmarkValue};
            return result;
        }
        int page = toInt(GetNodeText(response, resp + "/PageNumber"));
        totalPages = GetNodeText(response, resp + "/PaginationResult/TotalNumberOfPages");
        // Never ask for a page already fetched, even if the answer names none.
        int fetched = std::max(page, toInt(GetNodeText(request, pageXPath, "1")));
        // eBay saying "more" for ever must not keep the download going: what
        // came is kept, the bookmark is not moved.
        int total = toInt(totalPages);
        int last = total > 0 ? std::min(total, kMaxPages) : kMaxPages;
        if (fetched >= last) {
            m_shell.setStatus("Error: eBay still reported more after page " + std::to_string(fetched) + " of " +
                              (total > 0 ? std::to_string(total) : std::string("an unknown number")) +
                              "; the download stopped there and is repeated next time.");
            return result;
        }
        SetChildText(request, call.callName + "Request/Pagination", "PageNumber", std::to_string(fetched + 1));
    }
}

clseBayAPI::TimeWindow clseBayAPI::sellerTransactionsWindow() const
{
    const DateTime now = clock().localNow();
    const double offset = m_session.eBayClockOffset;
    const std::string lastText = settings::read(m_session.store.settings(), "LastGetSellerTransactions");
    DateTime last = eBayTimeToDate(lastText);
    TimeWindow w;
    if (!lastText.empty() && last.isValid()) {
        // The limit is local time, without the offset.
        if (last.daysTo(now) > maxDays()) last = eBayTimeToDate(DateToeBayTime(now.addDays(-maxDays())));
        w.from = last.addSecs(-5 * 60);
    } else {
        w.from = now.addDays(-maxDays()).addDays(offset);
    }
    w.to = now.addDays(offset);
    return w;
}

xml::Document clseBayAPI::SynchronousGetSellerTransactions(settings::Bookmark *bookmark)
{
    const TimeWindow w = sellerTransactionsWindow();
    const std::string to = DateToeBayTime(w.to);

    xml::Document request = load(sellerTransactionsText("SynchronousGetSellerTransactions", false));
    setExisting(request, "GetSellerTransactionsRequest/ModTimeFrom", DateToeBayTime(w.from));
    setExisting(request, "GetSellerTransactionsRequest/ModTimeTo", to);
    return pageLoop({"GetSellerTransactions", "TransactionArray", "HasMoreTransactions",
                     "Downloading eBay Transactions", "LastGetSellerTransactions", to},
                    request, bookmark);
}

xml::Document clseBayAPI::SynchronousGetSellerTransactionsByDays(const std::string &NumberOfDays)
{
    m_shell.ProcessingImageDisplay("Downloading eBay Transactions");
    xml::Document request = load(sellerTransactionsText("SynchronousGetSellerTransactionsByDays", true));
    SetChildText(request, "GetSellerTransactionsRequest", "NumberOfDays", NumberOfDays);
    return pageLoop(
        {"GetSellerTransactions", "TransactionArray", "HasMoreTransactions", "Downloading eBay Transactions", "", ""},
        request, nullptr);
}

namespace {

struct Window {
    std::string start, end;
};

Window messageWindow(const xml::Document &settingsDoc, std::string_view key, int days, double offset)
{
    const DateTime now = clock().localNow();
    const std::string lastText = settings::read(settingsDoc, key);
    DateTime last = eBayTimeToDate(lastText);
    DateTime start = (!lastText.empty() && last.isValid()) ? last.addSecs(-5 * 60) : now.addDays(-days).addDays(offset);
    // eBay's times carry milliseconds, ours whole seconds: rounded down, the
    // end would leave out a message of this very second (one just sent).
    DateTime end = now.addDays(offset);
    if (end.msec() > 0) end = end.addMsecs(1000 - end.msec());
    return {DateToeBayTime(start), DateToeBayTime(end)};
}

} // namespace

xml::Document clseBayAPI::SynchronousGetMemberMessages(settings::Bookmark *bookmark)
{
    m_shell.ProcessingImageDisplay("Downloading eBay Messages");
    Window w = messageWindow(m_session.store.settings(), "LastGetMemberMessages", maxDays(), m_session.eBayClockOffset);
    xml::Document request = load(kHead + open("GetMemberMessages") + kCredentials +
                                 "  <Pagination>"
                                 "    <EntriesPerPage>10</EntriesPerPage>"
                                 "    <PageNumber>1</PageNumber>"
                                 "  </Pagination>"
                                 "  <MailMessageType>All</MailMessageType>"
                                 "  <StartCreationTime></StartCreationTime>"
                                 "  <EndCreationTime></EndCreationTime>" +
                                 close("GetMemberMessages"));
    setExisting(request, "GetMemberMessagesRequest/StartCreationTime", w.start);
    setExisting(request, "GetMemberMessagesRequest/EndCreationTime", w.end);
    return pageLoop({"GetMemberMessages", "MemberMessage", "HasMoreItems", "Downloading eBay Messages",
                     "LastGetMemberMessages", w.end},
                    request, bookmark);
}

xml::Document clseBayAPI::SynchronousGetSentMessages(settings::Bookmark *bookmark)
{
    if (bookmark) *bookmark = {};
    m_shell.ProcessingImageDisplay("Downloading eBay Sent Messages");
    Window w = messageWindow(m_session.store.settings(), "LastGetSentMessages", maxDays(), m_session.eBayClockOffset);
    xml::Document request = load(sentMessagesHead() +
                                 "  <DetailLevel>ReturnHeaders</DetailLevel>"
                                 "  <FolderID>1</FolderID>"
                                 "  <StartTime></StartTime>"
                                 "  <EndTime></EndTime>" +
                                 close("GetMyMessages"));
    setExisting(request, "GetMyMessagesRequest/StartTime", w.start);
    setExisting(request, "GetMyMessagesRequest/EndTime", w.end);

    xml::Document headers = send("GetMyMessages", "573", request);
    if (headers.isNull()) return xml::Document(nullptr);
    std::string ack = GetNodeText(headers, "GetMyMessagesResponse/Ack");
    if (ack == "Failure") {
        m_shell.setStatus("Error: " + GetNodeText(headers, "GetMyMessagesResponse/Errors/ShortMessage"));
        return xml::Document(nullptr);
    }
    if (ack != "Success") return xml::Document(nullptr);

    std::vector<std::string> ids;
    if (xml::Node messages = headers.root().element("Messages"))
        for (xml::Node m : messages.elements())
            ids.push_back(GetNodeText(m, "MessageID"));

    xml::Document result(nullptr);
    bool complete = true;
    size_t taken = 0;
    while (taken < ids.size()) {
        size_t batchEnd = std::min(ids.size(), taken + 10);
        std::string text = sentMessagesHead() + "  <DetailLevel>ReturnMessages</DetailLevel>  <MessageIDs>";
        for (size_t i = taken; i < batchEnd; ++i)
            text += "    <MessageID>" + xml::escape(ids[i]) + "</MessageID>";
        text += "  </MessageIDs>" + close("GetMyMessages");
        taken = batchEnd;
        m_shell.ProcessingImageDisplay("Downloading eBay Sent Messages<br>" + std::to_string(taken) + " of " +
                                       std::to_string(ids.size()));
        xml::Document batch = load(text);
        xml::Document response = send("GetMyMessages", "573", batch);
        std::string batchAck = response ? GetNodeText(response.root(), "Ack") : std::string();
        if (batchAck == "Failure") {
            m_shell.setStatus("Error: " + shortMessage(response));
            complete = false;
            break;
        }
        if (batchAck != "Success") {
            complete = false;
            continue;
        }
        if (!result) {
            result = response.clone();
        } else if (xml::Node from = response.root().element("Messages")) {
            xml::Node to = result.root().element("Messages");
            if (!to) to = result.root().appendElement("Messages");
            for (xml::Node child : from.elements())
                to.append(child);
        }
    }
    // Messages of a batch that failed are fetched again next time.
    if (complete && bookmark) *bookmark = {"LastGetSentMessages", w.end};
    return result;
}

namespace {

store::RecordIndex feedbackIndex(const xml::Document &store)
{
    return store::RecordIndex(store.select("Feedbacks"), "FeedbackDetail",
                              [](xml::Node f) { return store::childText(f, "FeedbackID"); });
}

} // namespace

bool clseBayAPI::storeNewFeedback(const xml::Document &response, bool *changed)
{
    store::RecordIndex known = feedbackIndex(m_session.store.doc(store::Doc::Feedback));
    return storeNewFeedback(response, known, changed);
}

bool clseBayAPI::storeNewFeedback(const xml::Document &response, store::RecordIndex &known, bool *changed)
{
    xml::Node root = m_session.store.doc(store::Doc::Feedback).select("Feedbacks");
    const DateTime now = clock().localNow();
    bool stop = false;
    for (xml::Node detail : response.selectAll("GetFeedbackResponse/FeedbackDetailArray/FeedbackDetail")) {
        if (known.find(store::childText(detail, "FeedbackID"))) {
            stop = true;
            continue;
        }
        DateTime when = eBayTimeToDate(GetNodeText(detail, "CommentTime"));
        if (when.isValid() && when.daysTo(now) <= 30) {
            if (root) {
                known.add(root.append(detail));
                *changed = true;
            }
        } else {
            stop = true;
        }
    }
    return stop;
}

void clseBayAPI::SynchronousGetFeedbackNew()
{
    m_shell.ProcessingImageDisplay("Downloading eBay Feedback");
    xml::Document request = load(kHead + open("GetFeedback") + kCredentials +
                                 "  <MessageID>SynchronousGetFeedbackNew</MessageID>"
                                 "  <Pagination>"
                                 "    <EntriesPerPage>100</EntriesPerPage>"
                                 "    <PageNumber>1</PageNumber>"
                                 "  </Pagination>"
                                 "  <DetailLevel>ReturnAll</DetailLevel>" +
                                 close("GetFeedback"));
    // One index for the whole download: a lookup per entry must not scan the store.
    store::RecordIndex known = feedbackIndex(m_session.store.doc(store::Doc::Feedback));
    for (;;) {
        xml::Document response = send("GetFeedback", "573", request);
        if (response.isNull()) return;
        std::string ack = GetNodeText(response, "GetFeedbackResponse/Ack");
        if (ack != "Success") {
            if (ack == "Failure") m_shell.setStatus("Error: " + shortMessage(response));
            return;
        }
        xml::Node root = response.root();
        long total = std::atol(GetNodeText(root, "FeedbackDetailItemTotal", "0").c_str());
        // eBay may not echo the page; the request says which one this was.
        std::string requested = GetNodeText(request, "GetFeedbackRequest/Pagination/PageNumber", "1");
        long page = std::atol(GetNodeText(root, "Pagination/PageNumber", requested).c_str());
        long perPage = std::atol(GetNodeText(root, "Pagination/EntriesPerPage",
                                             GetNodeText(request, "GetFeedbackRequest/Pagination/EntriesPerPage", "0"))
                                     .c_str());
        m_shell.ProcessingImageDisplay("Downloading eBay Feedback<br>" + std::to_string(page * perPage) + " items");

        bool changed = false;
        bool stop = storeNewFeedback(response, known, &changed);
        if (changed) m_session.store.save(store::Doc::Feedback);

        bool empty = response.selectAll("GetFeedbackResponse/FeedbackDetailArray/FeedbackDetail").empty();
        if (stop || empty || page * perPage >= total) return;
        if (std::atol(requested.c_str()) >= kMaxPages) {
            m_shell.setStatus("Error: eBay still reported more feedback after page " + requested +
                              "; the download stopped there.");
            return;
        }
        SetChildText(request, "GetFeedbackRequest/Pagination", "PageNumber",
                     std::to_string(std::atol(requested.c_str()) + 1));
    }
}

xml::Document clseBayAPI::SynchronousGetFeedback()
{
    xml::Document request = load(kHead + open("GetFeedback") + kCredentialsOneLine +
                                 "  <DetailLevel>ReturnAll</DetailLevel>"
                                 "  <MessageID>SynchronousGetFeedback</MessageID>"
                                 "  <Pagination>"
                                 "    <EntriesPerPage>25</EntriesPerPage>"
                                 "    <PageNumber>1</PageNumber>"
                                 "  </Pagination>" +
                                 close("GetFeedback"));
    return send("GetFeedback", "571", request);
}

xml::Document clseBayAPI::SynchronousGetSellerDashboard()
{
    xml::Document request =
        load(kHead + open("GetSellerDashboard") + kCredentials +
             "  <MessageID>SynchronousGetSellerDashboard</MessageID>" + close("GetSellerDashboard"));
    return send("GetSellerDashboard", "571", request);
}

xml::Document clseBayAPI::singlePage(const std::string &callName, xml::Document request, const std::string &overlay)
{
    if (!overlay.empty()) m_shell.ProcessingImageDisplay(overlay);
    xml::Document response = send(callName, "573", request);
    if (response.isNull()) return response;
    std::string ack = GetNodeText(response.root(), "Ack");
    if (ack == "Failure") m_shell.setStatus("Error: " + shortMessage(response));
    if (ack != "Success") return xml::Document(nullptr);
    return response;
}

xml::Document clseBayAPI::SynchronousGeteBayOfficialTime()
{
    return singlePage("GeteBayOfficialTime",
                      load(kHead + open("GeteBayOfficialTime") + kCredentialsOneLine +
                           "  <MessageID>SynchronousGeteBayOfficialTime</MessageID>" + close("GeteBayOfficialTime")),
                      "Downloading eBay Official Time");
}

xml::Document clseBayAPI::SynchronousGeteBayDetails()
{
    return singlePage("GeteBayDetails",
                      load(kHead + open("GeteBayDetails") + kCredentialsOneLine +
                           "  <MessageID>SynchronousGeteBayDetails</MessageID>"
                           "  <DetailName>URLDetails</DetailName>"
                           "  <DetailName>TimeZoneDetails</DetailName>"
                           "  <DetailName>ShippingCarrierDetails</DetailName>"
                           "  <DetailName>ShippingLocationDetails</DetailName>"
                           "  <DetailName>ShippingPackageDetails</DetailName>"
                           "  <DetailName>ShippingServiceDetails</DetailName>" +
                           close("GeteBayDetails")),
                      "Downloading eBay Details");
}

std::string clseBayAPI::SynchronousMarkShippedStatus(const std::string &itemId, const std::string &transactionId,
                                                     bool shipped, const std::string &carrier,
                                                     const std::string &trackingNumber)
{
    // Values are escaped: an id or tracking number holding "<" or "&" must
    // neither break the request nor add elements to it.
    xml::Document request = load(kHead + open("CompleteSale") + kCredentials + "  <ItemID>" + xml::escape(itemId) +
                                 "</ItemID>"
                                 "  <Shipment>"
                                 "    <ShipmentTrackingNumber>" +
                                 xml::escape(trackingNumber) +
                                 "</ShipmentTrackingNumber>"
                                 "    <ShippingCarrierUsed>" +
                                 xml::escape(carrier) +
                                 "</ShippingCarrierUsed>"
                                 "  </Shipment>"
                                 "  <Shipped>" +
                                 (shipped ? "True" : "False") +
                                 "</Shipped>"
                                 "  <TransactionID>" +
                                 xml::escape(transactionId) + "</TransactionID>" + close("CompleteSale"));
    if (request.isNull()) {
        m_answered = false;
        return "Failure";
    }
    xml::Document response = send("CompleteSale", "569", request);
    if (response.isNull() || !response.root()) return "Failure";
    return GetNodeText(response.root(), "Ack", "Failure");
}

xml::Document clseBayAPI::AddMemberMessageAAQToPartner(const std::string &RecipientID, const std::string &ItemID,
                                                       const std::string &QuestionType, const std::string &Subject,
                                                       const std::string &Body, bool EmailCopyToSender)
{
    xml::Document request = pages::loadXml("/KORVA/AddMemberMessageAAQToPartner-557.xml");
    if (request.isNull() || !request.root()) {
        m_shell.setStatus("Error: the message form for eBay could not be loaded; the message was not sent.");
        return xml::Document(nullptr);
    }
    const std::string root = "AddMemberMessageAAQToPartnerRequest/";
    setExisting(request, root + "ItemID", ItemID);
    setExisting(request, root + "MemberMessage/Body", Body);
    setExisting(request, root + "MemberMessage/EmailCopyToSender", EmailCopyToSender ? "true" : "false");
    setExisting(request, root + "MemberMessage/QuestionType", QuestionType);
    setExisting(request, root + "MemberMessage/RecipientID", RecipientID);
    setExisting(request, root + "MemberMessage/Subject", Subject);

    xml::Document response = send("AddMemberMessageAAQToPartner", "557", request);
    if (response.isNull() || !response.root()) {
        m_shell.setStatus("Error: no answer from eBay, so the message may not have been sent. Look at your sent "
                          "messages on eBay before sending it again.");
        return xml::Document(nullptr);
    }
    const std::string ack = GetNodeText(response.root(), "Ack");
    if (ack == "Success" || ack == "Warning") return response;
    const std::string reason = shortMessage(response);
    m_shell.setStatus("Error: " + (reason.empty() ? std::string("eBay did not take the message.") : reason));
    return xml::Document(nullptr);
}

} // namespace tw::ebay
