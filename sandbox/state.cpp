#include "sandbox/state.h"

#include "platform/text.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace tw::sandbox {

namespace {

// Small and fully specified, so a seed gives the same world on every platform
// (the standard distributions are not specified bit for bit).
class Rng {
  public:
    explicit Rng(std::uint64_t seed) : m_state(seed ^ 0x9E3779B97F4A7C15ull) {}
    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int n) { return n <= 0 ? 0 : int(next() % std::uint64_t(n)); }
    bool chance(int percent) { return below(100) < percent; }
    template <typename T, std::size_t N> const T &pick(const std::array<T, N> &a) { return a[below(int(N))]; }
    std::string digits(int n)
    {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += char('0' + below(10));
        return s;
    }
    std::string alnum(int n)
    {
        static const char set[] = "ABCDEFGHJKLMNPRSTUVWXYZ0123456789";
        std::string s;
        for (int i = 0; i < n; ++i)
            s += set[below(int(sizeof set) - 1)];
        return s;
    }

  private:
    std::uint64_t m_state;
};

struct Person {
    const char *first, *last;
};

const std::array<Person, 24> kPeople = {{
    {"Seán", "O'Brien"},     {"Zoë", "Müller"},     {"José", "Núñez"},       {"Bob & Alice", "Smith"},
    {"Łukasz", "Żółć"},      {"Mary", "O'Connor"},  {"Björn", "Ångström"},   {"Ana", "D'Souza"},
    {"James", "Walker"},     {"Linda", "Nguyen"},   {"Hiroshi", "山田"},     {"Chloé", "Lefèvre"},
    {"Patrick", "McNeil"},   {"Dana", "Lee <Jr.>"}, {"Robert", "Brown"},     {"Emily", "Johnson"},
    {"Søren", "Kierkegård"}, {"Maria", "García"},   {"Tom", "Hanks & Sons"}, {"Fatima", "Al-Sayed"},
    {"Olga", "Иванова"},     {"Kevin", "O'Malley"}, {"Grace", "Kim"},        {"Luis", "Peña"},
}};

struct Place {
    const char *city, *state, *zip, *country, *countryName, *phonePrefix;
};

const std::array<Place, 12> kDomestic = {{
    {"Walla Walla", "WA", "99362", "US", "United States", "(509)"},
    {"Hana", "HI", "96713", "US", "United States", "(808)"},
    {"Coeur d'Alene", "ID", "83814", "US", "United States", "(208)"},
    {"Austin", "TX", "78701", "US", "United States", "(512)"},
    {"Brooklyn", "NY", "11201", "US", "United States", "(718)"},
    {"Avon Lake", "OH", "44012", "US", "United States", "(440)"},
    {"Portland", "OR", "97201", "US", "United States", "(503)"},
    {"Anchorage", "AK", "99501", "US", "United States", "(907)"},
    {"Saint Paul", "MN", "55101", "US", "United States", "(651)"},
    {"Miami", "FL", "33101", "US", "United States", "(305)"},
    {"Denver", "CO", "80202", "US", "United States", "(303)"},
    {"Burlington", "VT", "05401", "US", "United States", "(802)"},
}};

const std::array<Place, 5> kTerritory = {{
    {"San Juan", "PR", "00901", "US", "United States", "(787)"},
    {"Hagåtña", "GU", "96910", "US", "United States", "(671)"},
    {"Charlotte Amalie", "VI", "00802", "US", "United States", "(340)"},
    {"APO", "AE", "09012", "US", "United States", ""},
    {"FPO", "AP", "96349", "US", "United States", ""},
}};

const std::array<Place, 6> kInternational = {{
    {"Toronto", "ON", "M5V 2T6", "CA", "Canada", "+1 416"},
    {"London", "", "SW1A 1AA", "GB", "United Kingdom", "+44 20"},
    {"München", "Bayern", "80331", "DE", "Germany", "+49 89"},
    {"Tōkyō", "", "100-0001", "JP", "Japan", "+81 3"},
    {"Sydney", "NSW", "2000", "AU", "Australia", "+61 2"},
    {"Montréal", "QC", "H2Y 1C6", "CA", "Canada", "+1 514"},
}};

const std::array<const char *, 10> kStreets = {
    "208 Woods Street", "123 Gharky Lane",       "1 O'Farrell St. Apt #4", "77 Rue de l'Église", "9 Elm & Main",
    "42 Königstraße",   "500 Ocean Dr <Unit 2>", "PSC 1234 Box 567",       "10 Downing Street",  "3-1 Marunouchi",
};

struct Product {
    const char *title, *sku, *productName;
    double price;
};

const std::array<Product, 14> kProducts = {{
    {"Vintage Brass Ship's Bell - 6\" Solid & Heavy", "BELL-06", "Brass bell 6in", 39.95},
    {"<b>NEW</b> Tidal Clock w/ Moon Phase", "CLK-TIDE", "Tidal clock", 54.00},
    {"Kid's Puzzle <script>alert('x')</script> 100 pcs", "PZL-100", "Puzzle 100", 12.50},
    {"Café Crème Mug — 12 oz, set of 2", "MUG-CC2", "Café mug set", 18.75},
    {"Nautical Chart \"Cape Cod\" 1892 Reprint", "MAP-CC1892", "Chart Cape Cod", 24.00},
    {"Rope Knot Board & Instructions <i>signed</i>", "KNOT-BRD", "Knot board", 31.20},
    {"See <a href=\"http://plinthway/?Action=ArchiveAll\">details</a> Lighthouse Print", "PRT-LH", "Lighthouse print",
     15.00},
    {"Sailor's Valet Tray — Leather", "TRAY-LTH", "Valet tray", 27.99},
    {"Tide Table Book 2008 (Paperback)", "BK-TIDE08", "Tide tables 2008", 8.49},
    {"Ship in a Bottle Kit 1:700 <HMS Victory>", "KIT-SIB", "", 44.10},
    {"Compass Rose Coasters x4 & Holder", "CST-ROSE", "Coasters", 16.00},
    {"Brass Porthole Mirror 12\" Ø", "MIR-PH12", "Porthole mirror", 65.00},
    {"Fisherman's Wool Sweater — Größe L", "SWT-L", "Wool sweater L", 79.00},
    {"Anchor Bookends (pair) 'Heavy'", "BKE-ANC", "Anchor bookends", 35.50},
}};

struct Service {
    const char *name;
    int kind; // 0 USPS domestic, 1 USPS international, 2 UPS, 3 other
    double cost;
};

const std::array<Service, 12> kDomesticServices = {{
    {"USPSPriority", 0, 4.95},
    {"USPSFirstClass", 0, 2.50},
    {"USPSMedia", 0, 2.38},
    {"USPSParcel", 0, 5.10},
    {"USPSPriorityFlatRateBox", 0, 9.80},
    {"USPSPriorityFlatRateEnvelope", 0, 4.60},
    {"USPSExpressMail", 0, 17.50},
    {"USPSFirstClassParcel", 0, 2.90},
    {"UPSGround", 2, 8.25},
    {"UPS2ndDay", 2, 14.00},
    {"Other", 3, 3.00},
    {"LocalDelivery", 3, 0.00},
}};

const std::array<Service, 6> kInternationalServices = {{
    {"USPSFirstClassMailInternational", 1, 6.00},
    {"USPSPriorityMailInternational", 1, 18.95},
    {"USPSExpressMailInternational", 1, 29.95},
    {"USPSPriorityMailInternationalFlatRateEnvelope", 1, 11.95},
    {"UPSWorldWideExpedited", 2, 45.00},
    {"StandardInternational", 3, 9.00},
}};

const std::array<const char *, 8> kQuestions = {
    "Hi, when will this ship? I need it by Friday & can pay extra.",
    "Does this fit a 5\" pipe? <script>alert(1)</script>",
    "Where's my order?? It's been a week... (O'Brien household)",
    "Can you combine shipping with my other order <b>please</b>?",
    "Is the colour really as shown? Ça a l'air plus foncé.",
    "Please send to my work address instead: 1 Main St & 2nd Ave",
    "See my photo at http://plinthway/?Action=Archive&ItemID=1 - is this the same?",
    "Thanks! ありがとうございます",
};

const std::array<const char *, 6> kPositive = {
    "Great seller! Fast shipping & well packed. A+++", "Exactly as described <b>five stars</b>",
    "Arrived safe in Coeur d'Alene, thank you!",       "Très bien, merci beaucoup!",
    "Super <script>alert('fb')</script> item",         "Would buy again from this seller",
};
const std::array<const char *, 3> kNeutral = {"OK item, slow shipping", "Box was dented but item fine",
                                              "Not quite what I expected & no reply"};
const std::array<const char *, 2> kNegative = {"Never arrived <angry>!", "Item broken, seller didn't respond"};

const std::array<const char *, 5> kPayerNotes = {
    "Please ship quickly & gift-wrap if you can!",
    "Leave it at the back door <porch>",
    "Merci beaucoup! Ça arrive avant Noël?",
    "Same address as last time = 100% sure",
    "Paid + shipping, thanks",
};

std::string asciiId(const std::string &s)
{
    std::string out;
    for (unsigned char c : s) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            out += char(c);
        else if (c >= 'A' && c <= 'Z')
            out += char(c - 'A' + 'a');
    }
    return out.empty() ? std::string("buyer") : out;
}

std::string uspsNumber(Rng &rng, bool international)
{
    if (international && rng.chance(40)) return "EJ" + rng.digits(9) + "US";
    switch (rng.below(3)) {
    case 0:
    case 1:
        return "9101" + rng.digits(18);
    default:
        return "9400" + rng.digits(18);
    }
}

} // namespace

const char *trackingStatusName(TrackingStatus status)
{
    switch (status) {
    case TrackingStatus::InTransit:
        return "InTransit";
    case TrackingStatus::Delivered:
        return "Delivered";
    case TrackingStatus::DeliveredAbroad:
        return "Delivered Abroad";
    case TrackingStatus::ArrivalAtUnit:
        return "Arrival at Unit";
    }
    return "";
}

void State::generate(const GeneratorOptions &options, const DateTime &ebayNow, int utcOffsetSeconds)
{
    Rng rng(options.seed);
    buyers.clear();
    orders.clear();
    questions.clear();
    sentMessages.clear();
    feedback.clear();
    tracking.clear();

    const int orderCount = std::max(0, options.orders);
    const int buyerCount = options.buyers > 0 ? options.buyers : std::max(1, (orderCount * 7 + 11) / 12);

    for (int b = 0; b < buyerCount; ++b) {
        Buyer buyer;
        const Person &p = kPeople[b % kPeople.size()];
        const std::string first = p.first, last = p.last;
        buyer.userId = asciiId(first).substr(0, 6) + "_" + asciiId(last).substr(0, 8) + std::to_string(b + 1);
        buyer.email = rng.chance(15) ? std::string("Invalid Request") : lower(buyer.userId) + "@example.com";
        buyer.eiasToken = "nY+sHZ2PrBmdj6wVnY+sEZ2PrA2dj6w" + rng.alnum(12) + std::to_string(b) + "==";
        buyer.feedbackScore = rng.chance(3) ? -1 - rng.below(3) : rng.below(600);
        Address &a = buyer.address;
        a.name = first + " " + last;
        const int region = rng.below(100);
        const Place &place = region < 70   ? kDomestic[rng.below(int(kDomestic.size()))]
                             : region < 82 ? kTerritory[rng.below(int(kTerritory.size()))]
                                           : kInternational[rng.below(int(kInternational.size()))];
        a.street1 = kStreets[rng.below(int(kStreets.size()))];
        if (rng.chance(25)) a.street2 = rng.chance(50) ? "Apt 3 & 4" : "c/o D'Arcy";
        a.city = place.city;
        a.state = place.state;
        a.postalCode = place.zip;
        a.country = place.country;
        a.countryName = place.countryName;
        a.phone = *place.phonePrefix ? std::string(place.phonePrefix) + " 555-" + rng.digits(4) : "";
        buyers.push_back(std::move(buyer));
    }

    // Items: a few fixed-price items sell many times, auctions once.
    const int itemCount = std::max(1, orderCount / 3);
    std::vector<std::string> itemIds;
    std::vector<int> itemProduct;
    std::vector<int> itemSales(itemCount, 0);
    for (int i = 0; i < itemCount; ++i) {
        itemIds.push_back("1100" + std::to_string(43277865 + i * 7919LL));
        itemProduct.push_back(rng.below(int(kProducts.size())));
    }

    int recordNumber = 100;
    for (int o = 0; o < orderCount; ++o) {
        Order order;
        // Repeat buyers: the first pass covers every buyer, later orders reuse them.
        order.buyer = o < buyerCount ? o : rng.below(buyerCount);
        const int item = rng.below(itemCount);
        const Product &product = kProducts[itemProduct[item]];
        order.itemId = itemIds[item];
        // An auction's single sale has transaction id "0"; fixed-price sales get their own.
        const bool firstSale = itemSales[item]++ == 0;
        order.transactionId =
            firstSale && rng.chance(30) ? std::string("0") : std::to_string(2000000000LL + o * 7LL + rng.below(7));
        order.title = product.title;
        order.sku = product.sku;
        order.productName = product.productName;
        order.quantity = rng.chance(15) ? 2 + rng.below(4) : 1;
        order.price = product.price;
        order.salesRecordNumber = ++recordNumber;

        const Buyer &buyer = buyers[order.buyer];
        const bool international = buyer.address.country != "US";
        const Service &service = international ? kInternationalServices[rng.below(int(kInternationalServices.size()))]
                                               : kDomesticServices[rng.below(int(kDomesticServices.size()))];
        order.shippingService = service.name;
        order.shippingCost = service.cost;
        order.buyerSelectedShipping = !rng.chance(20);
        order.packageWidth = 4 + rng.below(8);
        order.packageLength = 6 + rng.below(10);
        order.packageDepth = 2 + rng.below(6);
        order.irregular = rng.chance(10);

        // Most orders fall inside the usual 28-day window, a few before it.
        const double ageDays =
            rng.chance(88) ? rng.below(27 * 24 * 60) / 1440.0 : 28 + rng.below(20 * 24 * 60) / 1440.0;
        order.created = ebayNow.addDays(-ageDays).addSecs(-rng.below(60));
        order.modified = order.created;

        const int pay = rng.below(100);
        if (pay < 12) {
            order.paymentMethod = "None"; // unpaid
        } else {
            order.paymentMethod = pay < 85 ? "PayPal" : (pay < 95 ? "MOCC" : "CashOnPickup");
            order.paid = order.created.addSecs(60 * (5 + rng.below(36 * 60)));
            if (order.paid > ebayNow) order.paid = ebayNow.addSecs(-60);
            if (order.paymentMethod == "PayPal") order.paypalTransactionId = rng.alnum(17);
            order.modified = order.paid;
            DateTime shipped = order.paid.addSecs(3600 * (6 + rng.below(60)));
            if (shipped < ebayNow && rng.chance(80)) {
                order.shipped = shipped;
                order.modified = shipped;
                order.shippingServiceUsed = order.shippingService;
                if (service.kind <= 1) {
                    order.carrierUsed = "USPS";
                    order.trackingNumber = uspsNumber(rng, international);
                } else if (service.kind == 2) {
                    order.carrierUsed = "UPS";
                    order.trackingNumber = "1Z" + rng.alnum(6) + rng.digits(10);
                } else if (rng.chance(50) && order.shippingService != "LocalDelivery") {
                    order.carrierUsed = "Other";
                    order.trackingNumber = "RR" + rng.digits(9) + "XX";
                }
            }
        }
        if (order.isShipped() && order.carrierUsed == "USPS") {
            Tracking t;
            t.shippedLocal = order.shipped.addSecs(utcOffsetSeconds);
            t.city = buyer.address.city;
            t.state = buyer.address.state;
            t.zip = buyer.address.postalCode;
            const double age = order.shipped.daysTo(ebayNow);
            const int roll = rng.below(100);
            if (roll < 6) {
                // unknown to USPS: the number is not registered at all
            } else {
                if (age > 2.5 && roll < 75) {
                    const std::string &st = buyer.address.state;
                    if (buyer.address.country != "US")
                        t.status = TrackingStatus::DeliveredAbroad;
                    else if (st == "AE" || st == "AP" || st == "AA")
                        t.status = TrackingStatus::ArrivalAtUnit;
                    else
                        t.status = TrackingStatus::Delivered;
                }
                tracking[order.trackingNumber] = t;
            }
        }
        orders.push_back(std::move(order));
    }

    // Buyer questions about about a quarter of the orders.
    std::uint64_t messageId = 4000000000ull;
    for (const Order &order : orders) {
        if (!rng.chance(25)) continue;
        Question q;
        q.messageId = std::to_string(++messageId);
        q.itemId = order.itemId;
        q.senderId = buyers[order.buyer].userId;
        q.subject = "Question about item #" + order.itemId + " - \"" + order.title.substr(0, 20) + "\"";
        q.body = kQuestions[rng.below(int(kQuestions.size()))];
        q.created = order.created.addSecs(60 * rng.below(5 * 24 * 60));
        if (q.created > ebayNow) q.created = ebayNow.addSecs(-120);
        questions.push_back(std::move(q));
    }
    std::stable_sort(questions.begin(), questions.end(),
                     [](const Question &a, const Question &b) { return a.created < b.created; });

    // The seller's own messages: a shipping notice for some shipped orders.
    m_nextMessageId = 7000000000ull;
    for (const Order &order : orders) {
        if (!order.isShipped() || !rng.chance(35)) continue;
        SentMessage m;
        m.messageId = std::to_string(++m_nextMessageId);
        m.itemId = order.itemId;
        m.sendToName = buyers[order.buyer].userId;
        m.subject = "Your order has been shipped";
        m.body = "Hi " + buyers[order.buyer].address.name + ",\nwe shipped \"" + order.title +
                 "\" today.\nTracking Number: " + order.trackingNumber + "\nThanks & regards!";
        m.received = order.shipped.addSecs(60 * (1 + rng.below(90)));
        if (m.received > ebayNow) m.received = ebayNow.addSecs(-30);
        sentMessages.push_back(std::move(m));
    }
    std::stable_sort(sentMessages.begin(), sentMessages.end(),
                     [](const SentMessage &a, const SentMessage &b) { return a.received < b.received; });

    // Feedback for many shipped orders, of every kind; some older than 30 days.
    std::uint64_t feedbackId = 5000000000ull;
    for (const Order &order : orders) {
        if (!order.isShipped() || !rng.chance(55)) continue;
        Feedback f;
        f.feedbackId = std::to_string(++feedbackId);
        f.commentingUser = buyers[order.buyer].userId;
        f.commentingUserScore = buyers[order.buyer].feedbackScore;
        const int kind = rng.below(100);
        if (kind < 78) {
            f.commentType = "Positive";
            f.commentText = kPositive[rng.below(int(kPositive.size()))];
        } else if (kind < 90) {
            f.commentType = "Neutral";
            f.commentText = kNeutral[rng.below(int(kNeutral.size()))];
        } else if (kind < 97) {
            f.commentType = "Negative";
            f.commentText = kNegative[rng.below(int(kNegative.size()))];
        } else {
            f.commentType = "Withdrawn";
            f.commentText = "Feedback withdrawn by mutual agreement";
        }
        f.itemId = order.itemId;
        f.transactionId = order.transactionId;
        f.itemTitle = order.title;
        f.itemPrice = order.price;
        f.commentTime = order.shipped.addSecs(3600 * (2 + rng.below(24 * 6)));
        if (f.commentTime > ebayNow) f.commentTime = ebayNow.addSecs(-600);
        feedback.push_back(std::move(f));
    }
    std::stable_sort(feedback.begin(), feedback.end(),
                     [](const Feedback &a, const Feedback &b) { return a.commentTime > b.commentTime; });

    // PayPal's side of the PayPal orders, from a generator of its own so the
    // eBay world stays what it was for a seed.
    paypal.clear();
    Rng pp(options.seed ^ 0x50415950414cull);
    int paypalCount = 0;
    for (std::size_t o = 0; o < orders.size(); ++o) {
        const Order &order = orders[o];
        if (order.paypalTransactionId.empty()) continue;
        const Buyer &buyer = buyers[order.buyer];
        const Person &person = kPeople[std::size_t(order.buyer) % kPeople.size()];
        PaypalPayment p;
        p.transactionId = order.paypalTransactionId;
        p.order = int(o);
        p.payerId = pp.alnum(13);
        p.payerEmail = lower(buyer.userId) + "@example.com";
        p.payerStatus = pp.chance(70) ? "verified" : "unverified";
        p.firstName = person.first;
        p.lastName = person.last;
        p.shipTo = buyer.address;
        if (pp.chance(20)) p.note = kPayerNotes[pp.below(int(kPayerNotes.size()))];
        p.amount = std::round((order.price * order.quantity + order.shippingCost) * 100) / 100;
        p.fee = std::round((p.amount * 0.029 + 0.30) * 100) / 100;
        p.orderTime = order.paid;
        // Every eighth payment is an eCheck still clearing.
        if (paypalCount++ % 8 == 3) p.pendingFetches = 2;
        paypal[p.transactionId] = std::move(p);
    }

    reindex();
}

double PaypalPayment::refunded() const
{
    double sum = 0;
    for (const PaypalRefund &r : refunds)
        sum += r.gross;
    return std::round(sum * 100) / 100;
}

double PaypalPayment::leftToRefund() const
{
    return std::round((amount - refunded()) * 100) / 100;
}

std::string PaypalPayment::status() const
{
    if (pendingFetches > 0) return "Pending";
    if (refunds.empty()) return "Completed";
    return leftToRefund() <= 0 ? "Refunded" : "Partially-Refunded";
}

void State::reindex()
{
    m_byModified.resize(orders.size());
    m_byId.clear();
    m_firstOfItem.clear();
    for (std::size_t i = 0; i < orders.size(); ++i) {
        m_byModified[i] = int(i);
        m_byId[{orders[i].itemId, orders[i].transactionId}] = int(i);
        m_firstOfItem.emplace(orders[i].itemId, int(i));
    }
    std::stable_sort(m_byModified.begin(), m_byModified.end(),
                     [this](int a, int b) { return orders[a].modified < orders[b].modified; });
    for (const SentMessage &m : sentMessages) {
        std::uint64_t id = std::strtoull(m.messageId.c_str(), nullptr, 10);
        m_nextMessageId = std::max(m_nextMessageId, id);
    }
}

double Order::leftToRefund() const
{
    double left = isPaid() ? total() : 0.0;
    for (const EbayRefund &r : ebayRefunds)
        left -= r.amount;
    return std::max(0.0, std::round(left * 100) / 100);
}

Order *State::findOrder(const std::string &itemId, const std::string &transactionId)
{
    auto it = m_byId.find({itemId, transactionId});
    return it == m_byId.end() ? nullptr : &orders[it->second];
}

const Order *State::findOrder(const std::string &itemId, const std::string &transactionId) const
{
    return const_cast<State *>(this)->findOrder(itemId, transactionId);
}

bool State::hasItem(const std::string &itemId) const
{
    return m_firstOfItem.count(itemId) != 0;
}

const Order *State::firstOrderOfItem(const std::string &itemId) const
{
    auto it = m_firstOfItem.find(itemId);
    return it == m_firstOfItem.end() ? nullptr : &orders[it->second];
}

std::pair<std::size_t, std::size_t> State::modifiedRange(const DateTime &from, const DateTime &to) const
{
    auto less = [this](int index, const DateTime &t) { return orders[index].modified < t; };
    auto greater = [this](const DateTime &t, int index) { return t < orders[index].modified; };
    auto lo = std::lower_bound(m_byModified.begin(), m_byModified.end(), from, less);
    auto hi = std::upper_bound(lo, m_byModified.end(), to, greater);
    return {std::size_t(lo - m_byModified.begin()), std::size_t(hi - m_byModified.begin())};
}

void State::touched(int orderIndex, const DateTime &oldModified)
{
    // Find the entry by its old time, then move it to its new place.
    auto it =
        std::lower_bound(m_byModified.begin(), m_byModified.end(), oldModified, [&](int index, const DateTime &t) {
            return (index == orderIndex ? oldModified : orders[index].modified) < t;
        });
    while (it != m_byModified.end() && *it != orderIndex)
        ++it;
    if (it == m_byModified.end()) {
        reindex();
        return;
    }
    m_byModified.erase(it);
    auto pos = std::upper_bound(m_byModified.begin(), m_byModified.end(), orders[orderIndex].modified,
                                [this](const DateTime &t, int index) { return t < orders[index].modified; });
    m_byModified.insert(pos, orderIndex);
}

std::string State::addSentMessage(SentMessage message)
{
    message.messageId = std::to_string(++m_nextMessageId);
    auto pos = std::upper_bound(sentMessages.begin(), sentMessages.end(), message.received,
                                [](const DateTime &t, const SentMessage &m) { return t < m.received; });
    std::string id = message.messageId;
    sentMessages.insert(pos, std::move(message));
    return id;
}

} // namespace tw::sandbox
