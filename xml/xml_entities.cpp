// The table of named character references and its lookup: see xml_internal.h.
#include "xml/xml_internal.h"

#include <string_view>

namespace xmlcore {

namespace {

using Units = std::u16string_view;

// Named character references: the 252 of HTML 4.01 plus "apos", in 130
// buckets chosen by the sum of the lower-case name's code units modulo 130.
// An entry is one character (48 + name length), four decimal digits of the
// code point and the lower-case name. Where HTML knows a name in two cases,
// both entries are present and the one spelt with capitals stands first.
constexpr int kEntityBuckets = 130;
const char16_t* const kEntityTable[kEntityBuckets] = {
    u"60216oslash60248oslash60217ugrave60249ugrave",  // Oslash oslash Ugrave ugrave
    u"60221yacute60253yacute50937omega50969omega58968lceil",  // Yacute yacute Omega omega lceil
    u"50206icirc50238icirc50916delta50948delta68472weierp",  // Icirc icirc Delta delta weierp
    u"40185sup1",  // sup1
    u"40178sup268970lfloor",  // sup2 lfloor
    u"60164curren40179sup350922kappa50954kappa58212mdash",  // curren sup3 Kappa kappa mdash
    u"59830diams58211ndash",  // diams ndash
    u"68855otimes58969rceil",  // otimes rceil
    u"50212ocirc50244ocirc58482trade50338oelig50339oelig",  // Ocirc ocirc trade OElig oelig
    u"50197aring50229aring50931sigma50963sigma",  // Aring aring Sigma sigma
    u"50180acute68971rfloor50732tilde",  // acute rfloor tilde
    u"68249lsaquo",  // lsaquo
    u"58734infin68201thinsp",  // infin thinsp
    u"50161iexcl",  // iexcl
    u"50219ucirc50251ucirc50920theta50952theta",  // Ucirc ucirc Theta theta
    u"58254oline",  // oline
    u"58260frasl68727lowast",  // frasl lowast
    u"60191iquest59827clubs68250rsaquo",  // iquest clubs rsaquo
    u"50181micro58629crarr",  // micro crarr
    u"58222bdquo",  // bdquo
    u"",
    u"60177plusmn58243prime58242prime",  // plusmn Prime prime
    u"40914beta40946beta",  // Beta beta
    u"",
    u"",
    u"",
    u"50171laquo50215times",  // laquo times
    u"40710circ",  // circ
    u"49001lang",  // lang
    u"40175macr58220ldquo",  // macr ldquo
    u"50163pound40182para48476real",  // pound para real
    u"",
    u"50187raquo58713notin",  // raquo notin
    u"50223szlig50978upsih48773cong",  // szlig upsih cong
    u"58776asymp58801equiv49002rang58218sbquo",  // asymp equiv rang sbquo
    u"50222thorn50254thorn40402fnof48659darr48595darr58221rdquo",  // THORN thorn fnof dArr darr rdquo
    u"40162cent58722minus",  // cent minus
    u"40170ordf58707exist",  // ordf exist
    u"",
    u"40921iota40953iota48660harr48596harr58709empty",  // Iota iota hArr harr empty
    u"",
    u"40167sect40196auml40228auml48226bull48838sube",  // sect Auml auml bull sube
    u"",
    u"48656larr48592larr58853oplus",  // lArr larr oplus
    u"30176deg40186ordm58216lsquo",  // deg ordm lsquo
    u"40160nbsp40203euml40235euml48712isin40039apos",  // nbsp Euml euml isin apos
    u"40918zeta40950zeta",  // Zeta zeta
    u"48719prod38743and48195emsp",  // prod and emsp
    u"30935chi30967chi38745cap48194ensp",  // Chi chi cap ensp
    u"40207iuml40239iuml48658rarr48594rarr48706part48869perp",  // Iuml iuml rArr rarr part perp
    u"38736ang48836nsub58217rsquo",  // ang nsub rsquo
    u"",
    u"48657uarr48593uarr48901sdot",  // uArr uarr sdot
    u"40169copy48364euro",  // copy euro
    u"30919eta30951eta",  // Eta eta
    u"40214ouml40246ouml48839supe",  // Ouml ouml supe
    u"",
    u"",
    u"30174reg30038amp",  // reg amp
    u"48733prop",  // prop
    u"",
    u"30208eth30240eth40220uuml40252uuml30934phi30966phi",  // ETH eth Uuml uuml Phi phi
    u"",
    u"",
    u"",
    u"40376yuml40255yuml",  // Yuml yuml
    u"",
    u"40034quot48204zwnj",  // quot zwnj
    u"38746cup68756there4",  // cup there4
    u"30929rho30961rho38764sim",  // Rho rho sim
    u"30932tau30964tau38834sub",  // Tau tau sub
    u"38747int38206lrm38207rlm",  // int lrm rlm
    u"30165yen30936psi30968psi",  // yen Psi psi
    u"",
    u"30168uml28805ge",  // uml ge
    u"30982piv",  // piv
    u"",
    u"30172not",  // not
    u"",
    u"28804le",  // le
    u"30173shy",  // shy
    u"38721sum28800ne39674loz",  // sum ne loz
    u"",
    u"",
    u"38835sup",  // sup
    u"28715ni",  // ni
    u"",
    u"20928pi20960pi38205zwj",  // Pi pi zwj
    u"",
    u"60923lambda60955lambda20062gt",  // Lambda lambda gt
    u"",
    u"",
    u"60199ccedil60231ccedil",  // Ccedil ccedil
    u"",
    u"20060lt",  // lt
    u"20926xi20958xi28744or",  // Xi xi or
    u"20924mu20956mu",  // Mu mu
    u"20925nu20957nu",  // Nu nu
    u"68225dagger68224dagger",  // Dagger dagger
    u"80977thetasym",  // thetasym
    u"",
    u"",
    u"",
    u"78501alefsym",  // alefsym
    u"",
    u"",
    u"",
    u"60193aacute60225aacute60195atilde60227atilde",  // Aacute aacute Atilde atilde
    u"",
    u"60247divide70927omicron70959omicron",  // divide Omicron omicron
    u"60192agrave60224agrave",  // Agrave agrave
    u"60201eacute60233eacute60962sigmaf",  // Eacute eacute sigmaf
    u"70917epsilon70949epsilon",  // Epsilon epsilon
    u"",
    u"60200egrave60232egrave",  // Egrave egrave
    u"60205iacute60237iacute",  // Iacute iacute
    u"",
    u"",
    u"60204igrave60236igrave68230hellip",  // Igrave igrave hellip
    u"60166brvbar",  // brvbar
    u"60209ntilde60241ntilde68704forall58711nabla69824spades",  // Ntilde ntilde forall nabla spades
    u"60183middot60189frac1260211oacute60243oacute60213otilde60245otilde",  // middot frac12 Oacute oacute Otilde otilde
    u"",
    u"50184cedil60188frac14",  // cedil frac14
    u"50194acirc50226acirc50198aelig50230aelig60210ograve60242ograve",  // Acirc acirc AElig aelig Ograve ograve
    u"60190frac3450915gamma50947gamma58465image58730radic",  // frac34 Gamma gamma image radic
    u"60352scaron60353scaron",  // Scaron scaron
    u"60218uacute60250uacute69829hearts",  // Uacute uacute hearts
    u"50202ecirc50234ecirc50913alpha50945alpha70933upsilon70965upsilon",  // Ecirc ecirc Alpha alpha Upsilon upsilon
    u"68240permil",  // permil
};

} // namespace

long LookupEntity(const char* name, int length, bool hasCapital)
{
    unsigned sum = 0;
    for (int i = 0; i < length; ++i)
        sum += static_cast<unsigned char>(name[i]);
    Units bucket(kEntityTable[sum % kEntityBuckets]);
    long found = 0;
    std::size_t k = 0;
    while (k + 5 <= bucket.size()) {
        int entryLength = static_cast<int>(bucket[k]) - 48;
        if (entryLength <= 0 || k + 5 + static_cast<std::size_t>(entryLength) > bucket.size())
            break;
        bool same = entryLength == length;
        for (int i = 0; same && i < length; ++i)
            same = bucket[k + 5 + i] == static_cast<char16_t>(name[i]);
        if (same) {
            long value = 0;
            for (std::size_t d = 1; d <= 4; ++d)
                value = value * 10 + (bucket[k + d] - u'0');
            // A name written all in lower case selects the lower-case entity
            // of a pair (the second entry); any other spelling takes the first.
            if (found == 0) {
                found = value;
                if (hasCapital)
                    return found;
            } else {
                return value;
            }
        }
        k += 5 + static_cast<std::size_t>(entryLength);
    }
    return found;
}

} // namespace xmlcore
