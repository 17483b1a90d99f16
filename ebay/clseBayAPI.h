#pragma once
// The eBay Trading API calls of the program. Synchronous calls block (the
// event loop keeps running) and return the response or null; the others
// start an exchange and report through the completion events below, raised
// by mobjeBayConnection_RequestComplete.
//
// Failures never throw: eBay's "Failure" puts "Error: " and eBay's short
// message into status-bar panel 1 of `ui` and the call yields null.

#include "ebay/UiSink.h"
#include "ebay/clseBayConnection.h"
#include "platform/xml.h"
#include "store/session.h"
#include "store/settings.h"

#include <deque>
#include <functional>
#include <string>

namespace tw::store {
class RecordIndex;
}

namespace tw::ebay {

class clseBayAPI {
  public:
    // Both must outlive the object. Settings and the feedback store are read
    // and saved through session.store; the clock offset is session.eBayClockOffset.
    clseBayAPI(Session &session, UiSink &ui);
    clseBayAPI(const clseBayAPI &) = delete;
    clseBayAPI &operator=(const clseBayAPI &) = delete;

    // --- synchronous ------------------------------------------------------
    // The three downloads since a bookmark never store it themselves: when
    // the whole window came down they set `*bookmark` to the bookmark's new
    // value, and the caller stores it (settings::advance) once what was
    // downloaded is saved. Otherwise `*bookmark` is left empty, so the
    // window is asked again next time.
    //
    // Transactions changed since Settings/LastGetSellerTransactions (at most
    // GetSellerTransactionsMaxDays, capped at 28, back), all pages merged into
    // the first page's TransactionArray.
    xml::Document SynchronousGetSellerTransactions(settings::Bookmark *bookmark = nullptr);
    // The last `NumberOfDays` days; there is no bookmark.
    xml::Document SynchronousGetSellerTransactionsByDays(const std::string &NumberOfDays);
    // Buyers' questions since LastGetMemberMessages, all pages merged.
    xml::Document SynchronousGetMemberMessages(settings::Bookmark *bookmark = nullptr);
    // Sent messages since LastGetSentMessages, fetched in batches of 10;
    // null when there were none or the header request failed (the bookmark
    // is set in the first case).
    xml::Document SynchronousGetSentMessages(settings::Bookmark *bookmark = nullptr);
    // Adds new feedback of the last 30 days to the feedback store and saves it.
    void SynchronousGetFeedbackNew();
    // The raw responses (no Ack check, no overlay).
    xml::Document SynchronousGetFeedback();
    xml::Document SynchronousGetSellerDashboard();
    xml::Document SynchronousGetSessionID();
    xml::Document SynchronousFetchToken(const std::string &SessionID);
    xml::Document SynchronousGeteBayOfficialTime();
    xml::Document SynchronousGeteBayDetails();
    // eBay's Ack text ("Success", "Warning", ...), "Failure" without an answer.
    std::string SynchronousMarkShippedStatus(const std::string &itemId, const std::string &transactionId, bool shipped,
                                             const std::string &carrier, const std::string &trackingNumber);

    // --- asynchronous -----------------------------------------------------
    void GetSellerTransactions();
    void GetSellerTransactions_ByDays(const std::string &NumberOfDays);
    void GetMemberMessages();
    void GetSentMessages();
    void MyMessages_ProcessQueue();
    void GetFeedback();
    void GetSessionID();
    void FetchToken(const std::string &Username, const std::string &SecretID);
    void GeteBayOfficialTime();
    void GeteBayDetails();
    void GetItem(const std::string &ItemID);
    void GetRuName();
    void SetReturnURL();
    void GetReturnURL();
    void AddMemberMessageAAQToPartner(const std::string &RecipientID, const std::string &ItemID,
                                      const std::string &QuestionType, const std::string &Subject,
                                      const std::string &Body, bool EmailCopyToSender);
    void AddMemberMessageAAQToBidder(const std::string &CorrelationID, const std::string &ItemID,
                                     const std::string &Body, const std::string &Subject,
                                     const std::string &RecipientID);

    // The completion of every asynchronous call. Answers at a level other
    // than the one their call is sent with are ignored.
    void mobjeBayConnection_RequestComplete(const std::string &callName, const std::string &level,
                                            xml::Document request, xml::Document response);

    // --- events -----------------------------------------------------------
    using DocEvent = std::function<void(const xml::Document &response)>;
    using PageEvent = std::function<void(const xml::Document &response, bool more)>;
    PageEvent GetSellerTransactionsComplete;
    PageEvent GetMemberMessagesComplete;
    DocEvent GeteBayOfficialTimeComplete;
    DocEvent GetSentMessagesComplete;
    DocEvent GetSessionIDComplete;
    DocEvent FetchTokenComplete;
    DocEvent GeteBayDetailsComplete;
    DocEvent AddMemberMessageAAQToPartnerComplete;
    DocEvent AddMemberMessageAAQToBidderComplete;
    DocEvent GetFeedbackComplete;
    DocEvent GetItemComplete;

    clseBayConnection &connection() { return m_connection; }

    // Times a page whose Ack is neither "Success" nor "Failure" is sent again
    // before the download ends as failed.
    static constexpr int kMaxPageRetries = 3;
    // The most pages one download asks for when eBay names no page count.
    // Where it does, the download stops after that many pages even if eBay
    // still reports more (the bookmark then stays, so the window is asked
    // again next time).
    static constexpr int kMaxPages = 10000;

  private:
    struct PagedCall;
    xml::Document pageLoop(const PagedCall &call, xml::Document &request, settings::Bookmark *bookmark);
    xml::Document singlePage(const std::string &callName, xml::Document request, const std::string &overlay);
    xml::Document send(const std::string &callName, const std::string &level, xml::Document &request);
    int maxDays() const;
    // ModTimeFrom and ModTimeTo of a download since the bookmark, in eBay
    // time; a bookmark older than `staleLimitDays` starts from that limit.
    struct TimeWindow {
        DateTime from, to;
    };
    TimeWindow sellerTransactionsWindow(int staleLimitDays) const;
    bool saveSettings();
    // Adds new feedback of `response` to the store; true when the download
    // must stop. `known` indexes the store by FeedbackID and is kept up to date.
    bool storeNewFeedback(const xml::Document &response, store::RecordIndex &known, bool *changed);
    bool storeNewFeedback(const xml::Document &response, bool *changed);
    void pageComplete(const std::string &callName, xml::Document request, const xml::Document &response);

    Session &m_session;
    UiSink &m_ui;
    clseBayConnection m_connection;

    std::deque<std::string> m_sentQueue;
    std::string m_sentEnd;
    bool m_sentFailed = false;
    int m_asyncRetries = 0;
};

// eBay's short error message of a response ("" when none).
std::string shortMessage(const xml::Document &response);

} // namespace tw::ebay
