// The lookup tables row by row, against the reference rows written out here
// independently of store/lookup.cpp: the names in order, the rule (a
// country's code is its ISO 3166-1 alpha-2 code) and the rows that are
// exceptions to it.
#include "store/basFunctions.h"
#include "store/lookup.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using namespace tw;

namespace {

struct Row {
    std::string name;
    std::string code;
};

const std::vector<Row> kStates = {
    {"Alabama", "AL"},        {"Alaska", "AK"},         {"Arizona", "AZ"},
    {"Arkansas", "AR"},       {"California", "CA"},     {"Colorado", "CO"},
    {"Connecticut", "CT"},    {"Delaware", "DE"},       {"District of Columbia", "DC"},
    {"Florida", "FL"},        {"Georgia", "GA"},        {"Hawaii", "HI"},
    {"Idaho", "ID"},          {"Illinois", "IL"},       {"Indiana", "IN"},
    {"Iowa", "IA"},           {"Kansas", "KS"},         {"Kentucky", "KY"},
    {"Louisiana", "LA"},      {"Maine", "ME"},          {"Maryland", "MD"},
    {"Massachusetts", "MA"},  {"Michigan", "MI"},       {"Minnesota", "MN"},
    {"Mississippi", "MS"},    {"Missouri", "MO"},       {"Montana", "MT"},
    {"Nebraska", "NE"},       {"Nevada", "NV"},         {"New Hampshire", "NH"},
    {"New Jersey", "NJ"},     {"New Mexico", "NM"},     {"New York", "NY"},
    {"North Carolina", "NC"}, {"North Dakota", "ND"},   {"Ohio", "OH"},
    {"Oklahoma", "OK"},       {"Oregon", "OR"},         {"Pennsylvania", "PA"},
    {"Rhode Island", "RI"},   {"South Carolina", "SC"}, {"South Dakota", "SD"},
    {"Tennessee", "TN"},      {"Texas", "TX"},          {"Utah", "UT"},
    {"Vermont", "VT"},        {"Virginia", "VA"},       {"Washington", "WA"},
    {"West Virginia", "WV"},  {"Wisconsin", "WI"},      {"Wyoming", "WY"},
};

const std::vector<Row> kProvinces = {
    {"Alberta", "AB"},
    {"British Columbia", "BC"},
    {"Manitoba", "MB"},
    {"New Brunswick", "NB"},
    {"Newfoundland and Labrador", "NL"},
    {"Northwest Territories", "NT"},
    {"Nova Scotia", "NS"},
    {"Nunavut", "NU"},
    {"Ontario", "ON"},
    {"Prince Edward Island", "PE"},
    {"Quebec", "QC"},
    {"Saskatchewan", "SK"},
    {"Yukon", "YT"},
};

// In table order. The code is the ISO code; empty where the row is one of
// the exceptions below.
const std::vector<Row> kCountries = {
    {"Albania", "AL"},
    {"Algeria", "DZ"},
    {"American Samoa", "AS"},
    {"Andorra", "AD"},
    {"Angola", "AO"},
    {"Anguilla", "AI"},
    {"Antigua and Barbuda", "AG"},
    {"Argentina", "AR"},
    {"Armenia", "AM"},
    {"Aruba", "AW"},
    {"Australia", "AU"},
    {"Austria", "AT"},
    {"Azerbaijan", "AZ"},
    {"Azores", ""},
    {"Bahamas", "BS"},
    {"Bahrain", "BH"},
    {"Bangladesh", "BD"},
    {"Barbados", "BB"},
    {"Belarus", "BY"},
    {"Belgium", "BE"},
    {"Belize", "BZ"},
    {"Benin", "BJ"},
    {"Bermuda", "BM"},
    {"Bhutan", "BT"},
    {"Bolivia", "BO"},
    {"Bonaire", ""},
    {"Bosnia", "BA"},
    {"Botswana", "BW"},
    {"Brazil", "BR"},
    {"British Virgin Islands", "VG"},
    {"Brunei", "BN"},
    {"Bulgaria", "BG"},
    {"Burkina Faso", "BF"},
    {"Burundi", "BI"},
    {"Cambodia", "KH"},
    {"Cameroon", "CM"},
    {"Canada", "CA"},
    {"Canary Islands", ""},
    {"Cape Verde Island", "CV"},
    {"Cayman Islands", "KY"},
    {"Central African Republic", "CF"},
    {"Chad", "TD"},
    {"Chile", "CL"},
    {"China, People\xe2\x80\x99"
     "s Republic of",
     "CN"},
    {"Colombia", "CO"},
    {"Congo", "CG"},
    {"Congo, The Democratic Republic of", "CD"},
    {"Cook Islands", "CK"},
    {"Costa Rica", "CR"},
    {"Croatia", "HR"},
    {"Curacao", ""},
    {"Cyprus", "CY"},
    {"Czech Republic", "CZ"},
    {"Denmark", "DK"},
    {"Djibouti", "DJ"},
    {"Dominica", "DM"},
    {"Dominican Republic", "DO"},
    {"East Timor", "TL"},
    {"Ecuador", "EC"},
    {"Egypt", "EG"},
    {"El Salvador", "SV"},
    {"England", ""},
    {"Equatorial Guinea", "GQ"},
    {"Eritrea", "ER"},
    {"Estonia", "EE"},
    {"Ethiopia", "ET"},
    {"Europe", ""},
    {"Faeroe Islands", "FO"},
    {"Fiji", "FJ"},
    {"Finland", "FI"},
    {"France", "FR"},
    {"French Guiana", "GF"},
    {"French Polynesia", "PF"},
    {"Gabon", "GA"},
    {"Gambia", "GM"},
    {"Georgia", "GE"},
    {"Germany", "DE"},
    {"Ghana", "GH"},
    {"Gibraltar", "GI"},
    {"Greece", "GR"},
    {"Greenland", "GL"},
    {"Grenada", "GD"},
    {"Guadeloupe", "GP"},
    {"Guam", "GU"},
    {"Guatemala", "GT"},
    {"Guernsey", "GG"},
    {"Guinea", "GN"},
    {"Guinea-Bissau", "GW"},
    {"Guyana", "GY"},
    {"Haiti", "HT"},
    {"Holland", ""},
    {"Honduras", "HN"},
    {"Hong Kong", "HK"},
    {"Hungary", "HU"},
    {"Iceland", "IS"},
    {"India", "IN"},
    {"Indonesia", "ID"},
    {"Iraq", "IQ"},
    {"Ireland, Republic of", "IE"},
    {"Israel", "IL"},
    {"Italy", "IT"},
    {"Ivory Coast", "CI"},
    {"Jamaica", "JM"},
    {"Japan", "JP"},
    {"Jersey", "JE"},
    {"Jordan", "JO"},
    {"Kazakhstan", "KZ"},
    {"Kenya", "KE"},
    {"Kiribati", "KI"},
    {"Korea, South", "KR"},
    {"Kosrae", ""},
    {"Kuwait", "KW"},
    {"Kyrgyzstan", "KG"},
    {"Laos", "LA"},
    {"Latvia", "LV"},
    {"Lebanon", "LB"},
    {"Lesotho", "LS"},
    {"Liberia", "LR"},
    {"Libya", "LY"},
    {"Liechtenstein", "LI"},
    {"Lithuania", "LT"},
    {"Luxembourg", "LU"},
    {"Macau", "MO"},
    {"Macedonia (FYROM)", "MK"},
    {"Madagascar", "MG"},
    {"Madeira", ""},
    {"Malawi", "MW"},
    {"Malaysia", "MY"},
    {"Maldives", "MV"},
    {"Mali", "ML"},
    {"Malta", "MT"},
    {"Marshall Islands", "MH"},
    {"Martinique", "MQ"},
    {"Mauritania", "MR"},
    {"Mauritius", "MU"},
    {"Mexico", "MX"},
    {"Micronesia, Federated States of", "FM"},
    {"Moldova", "MD"},
    {"Monaco", "MC"},
    {"Mongolia", "MN"},
    {"Montserrat", "MS"},
    {"Morocco", "MA"},
    {"Mozambique", "MZ"},
    {"Namibia", "NA"},
    {"Nepal", "NP"},
    {"Netherlands", "NL"},
    {"Netherlands Antilles", ""},
    {"New Caledonia", "NC"},
    {"New Zealand", "NZ"},
    {"Nicaragua", "NI"},
    {"Niger", "NE"},
    {"Nigeria", "NG"},
    {"Norfolk Island", "NF"},
    {"Northern Ireland", ""},
    {"Northern Mariana Islands", "MP"},
    {"Norway", "NO"},
    {"Oman", "OM"},
    {"Pakistan", "PK"},
    {"Palau", "PW"},
    {"Panama", "PA"},
    {"Papua New Guinea", "PG"},
    {"Paraguay", "PY"},
    {"Peru", "PE"},
    {"Philippines", "PH"},
    {"Poland", "PL"},
    {"Ponape", ""},
    {"Portugal", "PT"},
    {"Puerto Rico", "PR"},
    {"Qatar", "QA"},
    {"Reunion", "RE"},
    {"Romania", "RO"},
    {"Rota", ""},
    {"Russia", "RU"},
    {"Rwanda", "RW"},
    {"Saba", ""},
    {"Saipan", ""},
    {"San Marino", "SM"},
    {"Saudi Arabia", "SA"},
    {"Scotland", ""},
    {"Senegal", "SN"},
    {"Serbia and Montenegro", ""},
    {"Seychelles", "SC"},
    {"Sierra Leone", "SL"},
    {"Singapore", "SG"},
    {"Slovakia", "SK"},
    {"Slovenia", "SI"},
    {"Solomon Islands", "SB"},
    {"South Africa", "ZA"},
    {"Spain", "ES"},
    {"Sri Lanka", "LK"},
    {"St. Barthelemy", ""},
    {"St. Christopher", ""},
    {"St. Croix", ""},
    {"St. Eustatius", ""},
    {"St. John", ""},
    {"St. Kitts and Nevis", "KN"},
    {"St. Lucia", "LC"},
    {"St. Maarten", ""},
    {"St. Martin", ""},
    {"St. Thomas", ""},
    {"St. Vincent and the Grenadines", "VC"},
    {"Suriname", "SR"},
    {"Swaziland", "SZ"},
    {"Sweden", "SE"},
    {"Switzerland", "CH"},
    {"Syria", "SY"},
    {"Tahiti", ""},
    {"Taiwan", "TW"},
    {"Tajikistan", "TJ"},
    {"Tanzania", "TZ"},
    {"Thailand", "TH"},
    {"Tinian", ""},
    {"Togo", "TG"},
    {"Tonga", "TO"},
    {"Tortola", ""},
    {"Trinidad and Tobago", "TT"},
    {"Truk", ""},
    {"Tunisia", "TN"},
    {"Turkey", "TR"},
    {"Turkmenistan", "TM"},
    {"Turks and Caicos Islands", "TC"},
    {"Tuvalu", "TV"},
    {"U.S. Virgin Islands", "VI"},
    {"Uganda", "UG"},
    {"Ukraine", "UA"},
    {"Union Island", ""},
    {"United Arab Emirates", "AE"},
    {"United Kingdom", "GB"},
    {"United States", "US"},
    {"Uruguay", "UY"},
    {"Uzbekistan", "UZ"},
    {"Vanuatu", "VU"},
    {"Vatican City State", "VA"},
    {"Venezuela", "VE"},
    {"Vietnam", "VN"},
    {"Virgin Gorda", ""},
    {"Wales", ""},
    {"Wallis and Futuna Islands", "WF"},
    {"Western Samoa", "WS"},
    {"Yap", ""},
    {"Yemen", "YE"},
    {"Yugoslavia", ""},
    {"Zambia", "ZM"},
    {"Zimbabwe", "ZW"},
};

const std::map<std::string, std::string> kExceptions = {
    {"Azores", "A2"},
    {"Bonaire", "BL"},
    {"Canary Islands", "IC"},
    {"Curacao", "CB"},
    {"England", "EN"},
    {"Europe", "EP"},
    {"Holland", "HO"},
    {"Kosrae", "KO"},
    {"Madeira", "M3"},
    {"Netherlands Antilles", "AN"},
    {"Northern Ireland", "NB"},
    {"Ponape", "PO"},
    {"Rota", "RT"},
    {"Saba", "SS"},
    {"Saipan", "SP"},
    {"Scotland", "SF"},
    {"Serbia and Montenegro", "CS"},
    {"St. Barthelemy", "NT"},
    {"St. Christopher", "SW"},
    {"St. Croix", "SX"},
    {"St. Eustatius", "EU"},
    {"St. John", "UV"},
    {"St. Maarten", "MB"},
    {"St. Martin", "TB"},
    {"St. Thomas", "VL"},
    {"Tahiti", "TA"},
    {"Tinian", "TI"},
    {"Tortola", "ZZ"},
    {"Truk", "TU"},
    {"Union Island", "UI"},
    {"Virgin Gorda", "VR"},
    {"Wales", "WL"},
    {"Yap", "YA"},
    {"Yugoslavia", "YU"},
};

void expectRows(const xml::Document &lookup, const std::string &xpath, const std::vector<Row> &expected)
{
    std::vector<xml::Node> rows = lookup.selectAll(xpath);
    ASSERT_EQ(rows.size(), expected.size()) << xpath;
    for (size_t i = 0; i < rows.size(); ++i) {
        std::vector<xml::Node> children = rows[i].elements();
        ASSERT_EQ(children.size(), 2u) << xpath << " row " << i;
        EXPECT_EQ(children[0].name(), "Name");
        EXPECT_EQ(children[1].name(), "Code");
        EXPECT_EQ(children[0].text(), expected[i].name) << xpath << " row " << i;
        EXPECT_EQ(children[1].text(), expected[i].code) << expected[i].name;
    }
}

} // namespace

TEST(Lookup, EveryRowOfTheThreeTables)
{
    ASSERT_EQ(kStates.size(), 51u);
    ASSERT_EQ(kProvinces.size(), 13u);
    ASSERT_EQ(kCountries.size(), 244u);
    ASSERT_EQ(kExceptions.size(), 34u);

    std::vector<Row> countries;
    for (const Row &row : kCountries) {
        auto exception = kExceptions.find(row.name);
        // A row is either ruled by its ISO code or listed as an exception.
        EXPECT_NE(row.code.empty(), exception == kExceptions.end()) << row.name;
        countries.push_back({row.name, exception != kExceptions.end() ? exception->second : row.code});
    }

    xml::Document lookup = InitLookup();
    ASSERT_TRUE(lookup);
    EXPECT_EQ(lookup.root().name(), "Lookup");
    std::vector<std::string> sections;
    for (xml::Node n : lookup.select("Lookup/UPS").elements())
        sections.push_back(n.name());
    EXPECT_EQ(sections, (std::vector<std::string>{"States", "Provinces", "Countrys"}));
    expectRows(lookup, "Lookup/UPS/States/State", kStates);
    expectRows(lookup, "Lookup/UPS/Provinces/Province", kProvinces);
    expectRows(lookup, "Lookup/UPS/Countrys/Country", countries);

    // The query the WorldShip form asks, for every country.
    for (const Row &row : countries)
        EXPECT_EQ(lookupCountryCode(lookup, row.name, "dflt"), row.code) << row.name;
    // Names are compared exactly: case, apostrophes and unknown names give the default.
    EXPECT_EQ(lookupCountryCode(lookup, "united states", "dflt"), "dflt");
    EXPECT_EQ(lookupCountryCode(lookup, "China, People's Republic of", "dflt"), "dflt");
    EXPECT_EQ(lookupCountryCode(lookup, "Cote d'Ivoire", "dflt"), "dflt");
    EXPECT_EQ(lookupCountryCode(lookup, "", "dflt"), "dflt");
    // Built as one string without white space between elements.
    EXPECT_EQ(lookup.root().xml().find("> <"), std::string::npos);
    EXPECT_EQ(lookup.root().xml().find(">\n<"), std::string::npos);
}
