#pragma once
// The eBay Trading API calls of the program. Each blocks (the event loop
// keeps running, so the window stays responsive) and returns the response or
// null.
//
// Failures never throw: eBay's "Failure" puts "Error: " and eBay's short
// message into the first status-bar panel of `shell` and the call yields null.
// A sign-in that ended or was refused fails the same way, its words in place
// of eBay's; after every exchange the second panel tells how the OAuth
// sign-in stands.

#include "ebay/clseBayConnection.h"
#include "platform/shell.h"
#include "platform/xml.h"
#include "store/session.h"
#include "store/settings.h"

#include <string>

namespace tw::store {
class RecordIndex;
}

namespace tw::ebay {

class clseBayAPI {
  public:
    // Both must outlive the object. Settings and the feedback store are read
    // and saved through session.store; the clock offset is session.eBayClockOffset.
    clseBayAPI(Session &session, Shell &shell);
    clseBayAPI(const clseBayAPI &) = delete;
    clseBayAPI &operator=(const clseBayAPI &) = delete;

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
    xml::Document SynchronousGeteBayOfficialTime();
    xml::Document SynchronousGeteBayDetails();
    // eBay's Ack text ("Success", "Warning", ...), "Failure" without an answer.
    std::string SynchronousMarkShippedStatus(const std::string &itemId, const std::string &transactionId, bool shipped,
                                             const std::string &carrier, const std::string &trackingNumber);

    // A message to the buyer `RecipientID` about `ItemID` through eBay
    // (AddMemberMessageAAQToPartner, level 557), built from the served
    // request template with the values set as text, so none can add
    // elements. The response when eBay took the message (Ack "Success" or
    // "Warning"); otherwise null, with the reason in the status bar: "Error: "
    // and eBay's short message, or a sentence when the template could not be
    // had or no answer came (the message may then have gone out all the same).
    xml::Document AddMemberMessageAAQToPartner(const std::string &RecipientID, const std::string &ItemID,
                                               const std::string &QuestionType, const std::string &Subject,
                                               const std::string &Body, bool EmailCopyToSender);

    clseBayConnection &connection() { return m_connection; }

    // Why the last call gave nothing, in words a seller can act on: eBay's
    // own message, or that eBay could not be reached; "" after a success.
    const std::string &lastProblem() const { return m_problem; }
    // Whether eBay answered the last call (any Ack). False when the request
    // was never sent or its answer was lost or unreadable: what it asked for
    // may have happened all the same.
    bool lastCallAnswered() const { return m_answered; }

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
    // time; a bookmark older than the longest window starts from that limit.
    struct TimeWindow {
        DateTime from, to;
    };
    TimeWindow sellerTransactionsWindow() const;
    bool saveSettings();
    // The sign-in's health in the status bar's second panel (ebay/oauth.h
    // signInNotice), with the Authorize entry enabled when it needs renewing.
    void showSignInHealth();
    // Adds new feedback of `response` to the store; true when the download
    // must stop. `known` indexes the store by FeedbackID and is kept up to date.
    bool storeNewFeedback(const xml::Document &response, store::RecordIndex &known, bool *changed);
    bool storeNewFeedback(const xml::Document &response, bool *changed);

    Session &m_session;
    Shell &m_shell;
    clseBayConnection m_connection;
    std::string m_problem;
    bool m_answered = false;
};

// eBay's short error message of a response ("" when none).
std::string shortMessage(const xml::Document &response);

} // namespace tw::ebay
