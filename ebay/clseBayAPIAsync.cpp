// The asynchronous calls of clseBayAPI and their completion dispatcher.
#include "ebay/clseBayAPI.h"
#include "platform/clock.h"
#include "platform/config.h"
#include "store/basFunctions.h"
#include "store/settings.h"

#include <algorithm>
#include <cstdlib>
#include <map>

namespace tw::ebay {
namespace {

const std::map<std::string, std::string> &asyncLevels()
{
    static const std::map<std::string, std::string> levels = {
        {"GeteBayOfficialTime", "557"},
        {"GetSellerTransactions", "557"},
        {"GetMemberMessages", "557"},
        {"GetMyMessages", "557"},
        {"GetSessionID", "557"},
        {"FetchToken", "557"},
        {"GeteBayDetails", "557"},
        {"AddMemberMessageAAQToPartner", "557"},
        {"AddMemberMessagesAAQToBidder", "559"},
        {"GetFeedback", "557"},
        {"GetItem", "561"},
        {"GetRuName", "557"},
        {"SetReturnURL", "557"},
        {"GetReturnURL", "557"},
    };
    return levels;
}

// Writes into an element the template holds; a missing one is not created.
void setExisting(xml::Document &doc, const std::string &xpath, const std::string &value)
{
    if (xml::Node n = doc.select(xpath)) n.setText(value);
}

bool isTrue(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text == "true";
}

} // namespace

void clseBayAPI::GetSellerTransactions()
{
    m_ui.status(1, "Getting Sales... ");
    m_ui.ProcessingImageDisplay("Downloading eBay Transactions");
    // The asynchronous form always falls back to 28 days for a stale bookmark.
    const TimeWindow w = sellerTransactionsWindow(28);
    xml::Document request = m_connection.CreateInputXml("GetSellerTransactions", "557");
    setExisting(request, "GetSellerTransactionsRequest/ModTimeFrom", DateToeBayTime(w.from));
    setExisting(request, "GetSellerTransactionsRequest/ModTimeTo", DateToeBayTime(w.to));
    m_asyncRetries = 0;
    m_connection.StartRequest("GetSellerTransactions", "557", std::move(request));
}

void clseBayAPI::GetSellerTransactions_ByDays(const std::string &NumberOfDays)
{
    m_ui.status(1, "Getting Sales (Days=" + NumberOfDays + ")...");
    m_ui.ProcessingImageDisplay("Downloading eBay Transactions");
    xml::Document request = m_connection.CreateInputXml("GetSellerTransactions", "557");
    // eBay takes either a day count or a time window, not both.
    for (const char *name : {"ModTimeFrom", "ModTimeTo"})
        if (xml::Node n = request.select(std::string("GetSellerTransactionsRequest/") + name)) n.remove();
    SetChildText(request, "GetSellerTransactionsRequest", "NumberOfDays", NumberOfDays);
    SetChildText(request, "GetSellerTransactionsRequest", "CorrelationID", "ByDays");
    m_asyncRetries = 0;
    m_connection.StartRequest("GetSellerTransactions", "557", std::move(request));
}

void clseBayAPI::GetMemberMessages()
{
    m_ui.status(1, "Getting Messages... ");
    m_ui.ProcessingImageDisplay("Downloading eBay Messages");
    const DateTime now = clock().localNow();
    const std::string lastText = settings::read(m_session.store.settings(), "LastGetMemberMessages");
    DateTime last = eBayTimeToDate(lastText);
    DateTime start = (!lastText.empty() && last.isValid()) ? last.addSecs(-5 * 60)
                                                           : now.addDays(-maxDays()).addDays(m_session.eBayClockOffset);
    xml::Document request = m_connection.CreateInputXml("GetMemberMessages", "557");
    setExisting(request, "GetMemberMessagesRequest/StartCreationTime", DateToeBayTime(start));
    setExisting(request, "GetMemberMessagesRequest/EndCreationTime",
                DateToeBayTime(now.addDays(m_session.eBayClockOffset)));
    m_asyncRetries = 0;
    m_connection.StartRequest("GetMemberMessages", "557", std::move(request));
}

void clseBayAPI::GetSentMessages()
{
    m_ui.status(1, "Getting Sent Messages... ");
    m_ui.ProcessingImageDisplay("Downloading eBay Sent Messages");
    const DateTime now = clock().localNow();
    const std::string lastText = settings::read(m_session.store.settings(), "LastGetSentMessages");
    DateTime last = eBayTimeToDate(lastText);
    DateTime start = (!lastText.empty() && last.isValid()) ? last.addSecs(-5 * 60)
                                                           : now.addDays(-maxDays()).addDays(m_session.eBayClockOffset);
    m_sentEnd = DateToeBayTime(now.addDays(m_session.eBayClockOffset));
    m_sentQueue.clear();
    m_sentFailed = false;
    xml::Document request = m_connection.CreateInputXml("GetMyMessages", "557");
    SetChildText(request, "GetMyMessagesRequest", "DetailLevel", "ReturnHeaders");
    SetChildText(request, "GetMyMessagesRequest", "StartTime", DateToeBayTime(start));
    SetChildText(request, "GetMyMessagesRequest", "EndTime", m_sentEnd);
    if (xml::Node root = request.select("GetMyMessagesRequest"))
        root.append(request.createElement("OutputSelector", xml::kEbayNamespace)).setText("Messages.Message.MessageID");
    m_connection.StartRequest("GetMyMessages", "557", std::move(request));
}

void clseBayAPI::MyMessages_ProcessQueue()
{
    if (m_sentQueue.empty()) {
        // A batch that failed leaves the bookmark, so its messages come again next time.
        if (!m_sentFailed && !m_sentEnd.empty()) {
            settings::set(m_session.store.settings(), "LastGetSentMessages", m_sentEnd);
            saveSettings();
        }
        m_ui.ProcessingImageHide();
        return;
    }
    xml::Document request = m_connection.CreateInputXml("GetMyMessages", "557");
    SetChildText(request, "GetMyMessagesRequest", "DetailLevel", "ReturnMessages");
    for (const char *name : {"StartTime", "EndTime", "FolderID", "OutputSelector"})
        if (xml::Node n = request.select(std::string("GetMyMessagesRequest/") + name)) n.remove();
    xml::Node root = request.select("GetMyMessagesRequest");
    xml::Node ids = root ? root.appendElement("MessageIDs") : xml::Node();
    for (int i = 0; i < 10 && !m_sentQueue.empty(); ++i) {
        if (ids) ids.appendElement("MessageID", m_sentQueue.front());
        m_sentQueue.pop_front();
    }
    m_ui.status(1, std::to_string(m_sentQueue.size()) + " remaining");
    m_connection.StartRequest("GetMyMessages", "557", std::move(request));
}

void clseBayAPI::GetFeedback()
{
    m_ui.status(1, "Getting Feedback... ");
    m_ui.ProcessingImageDisplay("Downloading eBay Feedback");
    m_connection.StartRequest("GetFeedback", "557", m_connection.CreateInputXml("GetFeedback", "557"));
}

void clseBayAPI::GetSessionID()
{
    m_ui.status(1, "Getting ebay session...");
    m_ui.ProcessingImageDisplay("Creating eBay Session");
    xml::Document request = m_connection.CreateInputXml("GetSessionID", "557");
    setExisting(request, "GetSessionIDRequest/RuName", config().get("ebay/RuName"));
    m_connection.StartRequest("GetSessionID", "557", std::move(request));
}

void clseBayAPI::FetchToken(const std::string &Username, const std::string &SecretID)
{
    xml::Document request = m_connection.CreateInputXml("FetchToken", "557");
    setExisting(request, "FetchTokenRequest/RequesterCredentials/Username", Username);
    setExisting(request, "FetchTokenRequest/SecretID", SecretID);
    m_connection.StartRequest("FetchToken", "557", std::move(request));
}

void clseBayAPI::GeteBayOfficialTime()
{
    m_ui.ProcessingImageDisplay("Downloading eBay Time");
    m_connection.StartRequest("GeteBayOfficialTime", "557", m_connection.CreateInputXml("GeteBayOfficialTime", "557"));
}

void clseBayAPI::GeteBayDetails()
{
    m_ui.status(1, "Getting eBay URLs...");
    m_ui.ProcessingImageDisplay("Downloading eBay URLs");
    m_connection.StartRequest("GeteBayDetails", "557", m_connection.CreateInputXml("GeteBayDetails", "557"));
}

void clseBayAPI::GetItem(const std::string &ItemID)
{
    m_ui.status(1, "Getting Item " + ItemID + "...");
    m_ui.ProcessingImageDisplay("Downloading eBay Item <br>" + xml::escape(ItemID));
    xml::Document request = m_connection.CreateInputXml("GetItem", "561");
    SetChildText(request, "GetItemRequest", "ItemID", ItemID);
    m_connection.StartRequest("GetItem", "561", std::move(request));
}

void clseBayAPI::GetRuName()
{
    xml::Document request = m_connection.CreateInputXml("GetRuName", "557");
    SetChildText(request, "GetRuNameRequest", "ClientUseCase", "MangeOrders");
    m_connection.StartRequest("GetRuName", "557", std::move(request));
}

void clseBayAPI::SetReturnURL()
{
    m_connection.StartRequest("SetReturnURL", "557", m_connection.CreateInputXml("SetReturnURL", "557"));
}

void clseBayAPI::GetReturnURL()
{
    m_connection.StartRequest("GetReturnURL", "557", m_connection.CreateInputXml("GetReturnURL", "557"));
}

void clseBayAPI::AddMemberMessageAAQToPartner(const std::string &RecipientID, const std::string &ItemID,
                                              const std::string &QuestionType, const std::string &Subject,
                                              const std::string &Body, bool EmailCopyToSender)
{
    xml::Document request = m_connection.CreateInputXml("AddMemberMessageAAQToPartner", "557");
    const std::string root = "AddMemberMessageAAQToPartnerRequest/";
    setExisting(request, root + "ItemID", ItemID);
    setExisting(request, root + "MemberMessage/Body", Body);
    setExisting(request, root + "MemberMessage/EmailCopyToSender", EmailCopyToSender ? "true" : "false");
    setExisting(request, root + "MemberMessage/QuestionType", QuestionType);
    setExisting(request, root + "MemberMessage/RecipientID", RecipientID);
    setExisting(request, root + "MemberMessage/Subject", Subject);
    m_connection.StartRequest("AddMemberMessageAAQToPartner", "557", std::move(request));
}

void clseBayAPI::AddMemberMessageAAQToBidder(const std::string &CorrelationID, const std::string &ItemID,
                                             const std::string &Body, const std::string &Subject,
                                             const std::string &RecipientID)
{
    (void)Subject; // the call has no subject
    xml::Document request = m_connection.CreateInputXml("AddMemberMessagesAAQToBidder", "559");
    const std::string c = "AddMemberMessagesAAQToBidderRequest/AddMemberMessagesAAQToBidderRequestContainer/";
    setExisting(request, c + "CorrelationID", CorrelationID);
    setExisting(request, c + "ItemID", ItemID);
    setExisting(request, c + "MemberMessage/Body", Body);
    setExisting(request, c + "MemberMessage/MessageType", "ContactMyBidder");
    setExisting(request, c + "MemberMessage/RecipientID", RecipientID);
    m_connection.StartRequest("AddMemberMessagesAAQToBidder", "559", std::move(request));
}

void clseBayAPI::pageComplete(const std::string &callName, xml::Document request, const xml::Document &response)
{
    const bool transactions = callName == "GetSellerTransactions";
    const std::string resp = callName + "Response";
    const std::string ack = GetNodeText(response, resp + "/Ack");
    if (ack == "Failure") {
        m_ui.status(1, "Error: " + GetNodeText(response, resp + "/Errors/ShortMessage"));
        m_ui.ProcessingImageHide();
        return;
    }
    if (ack != "Success") {
        if (++m_asyncRetries > kMaxPageRetries) {
            m_ui.status(1, "Error: eBay did not confirm a page after " + std::to_string(kMaxPageRetries + 1) +
                               " attempts; the download was stopped.");
            m_ui.ProcessingImageHide();
            return;
        }
        m_connection.StartRequest(callName, "557", std::move(request));
        return;
    }
    m_asyncRetries = 0;
    bool more = isTrue(GetNodeText(response, resp + (transactions ? "/HasMoreTransactions" : "/HasMoreItems")));
    std::string page = GetNodeText(response, resp + "/PageNumber");
    std::string totalPages = GetNodeText(response, resp + "/PaginationResult/TotalNumberOfPages");
    m_ui.status(1, "Downloaded: Page " + page + " of " + totalPages);
    const PageEvent &event = transactions ? GetSellerTransactionsComplete : GetMemberMessagesComplete;
    if (event) event(response, more);
    if (more) {
        const std::string pageXPath = callName + "Request/Pagination";
        long requested = std::atol(GetNodeText(request, pageXPath + "/PageNumber", "1").c_str());
        long next = std::max(std::atol(page.c_str()), requested) + 1;
        SetChildText(request, pageXPath, "PageNumber", std::to_string(next));
        m_connection.StartRequest(callName, "557", std::move(request));
        return;
    }
    m_ui.status(1, "");
    m_ui.status(2, "");
    m_ui.ProcessingImageHide();
    if (transactions) {
        if (GetNodeText(request, "GetSellerTransactionsRequest/CorrelationID") != "ByDays") {
            settings::set(m_session.store.settings(), "LastGetSellerTransactions",
                          GetNodeText(request, "GetSellerTransactionsRequest/ModTimeTo"));
            saveSettings();
        }
    } else {
        settings::set(m_session.store.settings(), "LastGetMemberMessages",
                      GetNodeText(request, "GetMemberMessagesRequest/EndCreationTime"));
        saveSettings();
    }
}

void clseBayAPI::mobjeBayConnection_RequestComplete(const std::string &callName, const std::string &level,
                                                    xml::Document request, xml::Document response)
{
    auto expected = asyncLevels().find(callName);
    if (expected == asyncLevels().end() || expected->second != level) return;

    auto raise = [&](const DocEvent &event) {
        if (event) event(response);
    };
    const std::string ack = response ? GetNodeText(response.root(), "Ack") : std::string();

    if (callName == "GetSellerTransactions" || callName == "GetMemberMessages") {
        pageComplete(callName, std::move(request), response);
    } else if (callName == "GetMyMessages") {
        if (ack == "Failure") {
            m_ui.status(1, "MyMessage Error: " + shortMessage(response));
            m_sentFailed = true;
        }
        std::string detail = GetNodeText(request, "GetMyMessagesRequest/DetailLevel");
        if (detail == "ReturnHeaders") {
            if (ack != "Success") {
                m_ui.ProcessingImageHide();
                return;
            }
            for (xml::Node id : response.selectAll("GetMyMessagesResponse/Messages/Message/MessageID"))
                m_sentQueue.push_back(id.text());
            m_ui.status(1, "Getting " + std::to_string(m_sentQueue.size()) + " Sent Messages...");
            MyMessages_ProcessQueue();
        } else {
            if (ack == "Success")
                raise(GetSentMessagesComplete);
            else
                m_sentFailed = true;
            MyMessages_ProcessQueue();
        }
    } else if (callName == "GetFeedback") {
        if (ack != "Success") {
            if (ack == "Failure") m_ui.status(1, "Feedback Error: " + shortMessage(response));
            m_ui.ProcessingImageHide();
            return;
        }
        bool changed = false;
        bool stop = storeNewFeedback(response, &changed);
        if (changed) m_session.store.save(store::Doc::Feedback);
        long total = std::atol(GetNodeText(response.root(), "FeedbackDetailItemTotal", "0").c_str());
        long page = std::atol(GetNodeText(request, "GetFeedbackRequest/Pagination/PageNumber", "1").c_str());
        long perPage = std::atol(GetNodeText(request, "GetFeedbackRequest/Pagination/EntriesPerPage", "0").c_str());
        bool empty = response.selectAll("GetFeedbackResponse/FeedbackDetailArray/FeedbackDetail").empty();
        bool more = !stop && !empty && page * perPage < total;
        m_ui.status(1, (more ? "Downloading " : "Downloaded ") + std::to_string(page * perPage) + " items");
        raise(GetFeedbackComplete);
        if (more) {
            SetChildText(request, "GetFeedbackRequest/Pagination", "PageNumber", std::to_string(page + 1));
            m_connection.StartRequest("GetFeedback", "557", std::move(request));
        } else {
            m_ui.ProcessingImageHide();
        }
    } else if (callName == "GetItem") {
        if (ack == "Failure") m_ui.status(1, "Error: " + shortMessage(response));
        if (ack == "Success") raise(GetItemComplete);
    } else if (callName == "GeteBayOfficialTime") {
        raise(GeteBayOfficialTimeComplete);
    } else if (callName == "GetSessionID") {
        m_ui.ProcessingImageHide();
        raise(GetSessionIDComplete);
    } else if (callName == "FetchToken") {
        m_ui.ProcessingImageHide();
        raise(FetchTokenComplete);
    } else if (callName == "GeteBayDetails") {
        m_ui.ProcessingImageHide();
        raise(GeteBayDetailsComplete);
    } else if (callName == "AddMemberMessageAAQToPartner") {
        m_ui.ProcessingImageHide();
        raise(AddMemberMessageAAQToPartnerComplete);
    } else if (callName == "AddMemberMessagesAAQToBidder") {
        m_ui.ProcessingImageHide();
        raise(AddMemberMessageAAQToBidderComplete);
    }
    // GetRuName, SetReturnURL and GetReturnURL: the answer is not used.
}

} // namespace tw::ebay
