#include "retrieval/page/SoftNotFound.h"

#include "retrieval/url/WebUrl.h"
#include "text/Ascii.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace retrieval {

namespace {

// Phrases that say a page is not there, as they are read (lower case, apostrophes apart), "|" between.
constexpr std::string_view kPhrases =
    // de
    "|nicht gefunden|existiert nicht|existiert nicht mehr|nicht vorhanden|nicht mehr vorhanden"
    // en
    "|not found|could not be found|couldn't be found|cannot be found|can't be found|can not be found"
    "|does not exist|doesn't exist|no longer exists|can't find|cannot find|couldn't find|could not find"
    // fr
    "|introuvable|non trouvée|non trouvé|pas trouvée|n'existe pas|n'existe plus|n'a pas été trouvée"
    "|n'a pas pu être trouvée"
    // es
    "|no encontrada|no encontrado|no existe|ya no existe|no se encontró|no se ha encontrado"
    "|no se pudo encontrar|no se ha podido encontrar"
    // it
    "|non trovata|non trovato|non esiste|non esiste più|non è stata trovata|non è stato trovato"
    // nl
    "|niet gevonden|bestaat niet|bestaat niet meer|kon niet worden gevonden|niet worden gevonden"
    // pt
    "|não encontrada|não encontrado|nao encontrada|nao encontrado|não existe|não foi encontrada"
    "|não foi encontrado|não pôde ser encontrada"
    // pl
    "|nie znaleziono|nie została znaleziona|nie znaleziona|nie odnaleziono|nie istnieje|już nie istnieje"
    // sv
    "|hittades inte|kunde inte hittas|hittas inte|finns inte|finns inte längre|saknas"
    // da
    "|ikke fundet|blev ikke fundet|findes ikke|findes ikke længere|kunne ikke findes|eksisterer ikke"
    // cs
    "|nenalezena|nenalezeno|nenalezen|nebyla nalezena|nebylo nalezeno|neexistuje|již neexistuje";

// Words that may stand beside a phrase or beside 404: errors, regrets and the little words of such
// sentences ("Die gesuchte Seite wurde leider nicht gefunden").
constexpr std::string_view kFillers =
    // errors
    " error fehler fehlermeldung erreur errore fout błąd blad chyba fel fejl erro http status code statuscode"
    " fehlercode código codigo codice kod kód"
    // regrets
    " oops ooops whoops sorry hoppla huch ups upps oh no nein leider entschuldigung oups désolé désolée"
    " vaya lo siento sentimos spiacenti peccato ci dispiace helaas oeps desculpe ops opa przepraszamy"
    " ojej niestety tyvärr hoppsan beklager desværre hov bohužel jejda omlouváme uh ah hm hmm"
    // en
    " the this that a an you we your are is was were has have been be it looks like seems for looking"
    " requested here there just so unfortunately s re ve"
    // de
    " die der das den dem diese dieser dieses gesuchte gewünschte angeforderte aufgerufene angefragte"
    " wurde werden konnte kann ist sie ihre wir mehr hier es uns haben hat gibt"
    // fr
    " la le les l cette ce cet demandée demandé recherchée recherché que vous cherchez recherchez est"
    " été pas plus n nous ne d il semble elle"
    // es
    " el los las esta este buscas busca buscando solicitada solicitado ha sido se ya parece está estás"
    // it
    " il questa questo che cerchi stai cercando richiesta richiesto è stata stato più sembra non"
    // nl
    " de het deze dit je jij u zoekt opgevraagde gevraagde kon worden meer niet wij lijkt"
    // pt
    " o essa você voce procura procurando solicitada foi mais não"
    // pl
    " ta ten której ktorej szukasz żądana zadana została już podana podany nie wygląda"
    // sv
    " den det du söker letar efter kunde som längre efterfrågade begärda inte vi"
    // da
    " leder søger blev kunne længere ikke"
    // cs
    " kterou hledáte požadovaná již byla nebyla tato tahle je se"
    " ";

// What may have gone missing: allowed beside a phrase, not beside a bare 404 ("Seite 404" is a
// page of a list).
constexpr std::string_view kNouns =
    " page pages webpage site website seite webseite unterseite datei file document dokument url adresse"
    " address link inhalt content artikel article beitrag post ressource resource item produkt product"
    " página pagina pagine strona stránka stranka sidan sida siden side fichier fichero archivo"
    " arquivo documento adres adresa soubor artículo articolo entrada contenuto contenido conteúdo treść"
    " obsah innehåll indhold ";

bool Listed(std::string_view list, const std::string& word) {
    return list.find(" " + word + " ") != std::string_view::npos;
}

// One code point from UTF-8 at `i` (advanced past it); an invalid byte reads as U+FFFD.
char32_t NextCodePoint(std::string_view s, std::size_t& i) {
    const auto lead = static_cast<unsigned char>(s[i]);
    const std::size_t length = lead < 0x80           ? 1
                               : (lead >> 5) == 0x6  ? 2
                               : (lead >> 4) == 0xE  ? 3
                               : (lead >> 3) == 0x1E ? 4
                                                     : 0;
    if (length == 0 || i + length > s.size()) {
        ++i;
        return 0xFFFD;
    }
    char32_t c = length == 1 ? lead : lead & (0xFF >> (length + 1));
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(s[i + k]);
        if ((next & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        c = (c << 6) | (next & 0x3F);
    }
    i += length;
    return c;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Lower case for ASCII, Latin-1 and Latin Extended-A, which the languages above are written in.
char32_t Lower(char32_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return c + 0x20;
    if (c == 0x178)
        return 0xFF;
    const bool evenUpper = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
    const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if ((evenUpper && c % 2 == 0) || (oddUpper && c % 2 == 1))
        return c + 1;
    return c;
}

bool IsWordChar(char32_t c) {
    if (c < 0x80)
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    // Latin-1 punctuation and signs, general punctuation, and what stood for an invalid byte.
    return !(c <= 0xBF || c == 0xD7 || c == 0xF7 || (c >= 0x2000 && c <= 0x206F) || c == 0xFFFD);
}

// Where titles separate the page's name from the site's.
bool Separates(char32_t c) {
    return c == '|' || c == 0x2013 || c == 0x2014 || c == 0xB7 || c == 0x2022 || c == 0xAB || c == 0xBB;
}

using Words = std::vector<std::string>;

// The parts of the text, each as its words in lower case.
std::vector<Words> Parts(std::string_view text) {
    std::vector<Words> parts(1);
    std::string word;
    char32_t before = ' ';
    const auto endWord = [&] {
        if (!word.empty())
            parts.back().push_back(std::move(word));
        word.clear();
    };
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = Lower(NextCodePoint(text, i));
        const char next = i < text.size() ? text[i] : ' ';
        // "-", "/" and ":" separate only with space on both sides ("e-mail" is one word); "::" always.
        const bool spaced =
            (c == '-' || c == '/' || c == ':') && before == ' ' && (next == ' ' || next == '\t');
        if (Separates(c) || spaced || (c == ':' && (before == ':' || next == ':'))) {
            endWord();
            if (!parts.back().empty())
                parts.emplace_back();
        } else if (IsWordChar(c)) {
            AppendUtf8(word, c);
        } else {
            endWord();
        }
        before = c == '\t' || c == 0xA0 ? ' ' : c;
    }
    endWord();
    return parts;
}

const std::vector<Words>& PhraseWords() {
    static const std::vector<Words> phrases = [] {
        std::vector<Words> out;
        for (std::size_t at = 1; at < kPhrases.size();) {
            const std::size_t end = std::min(kPhrases.find('|', at), kPhrases.size());
            out.push_back(Parts(kPhrases.substr(at, end - at)).front());
            at = end + 1;
        }
        // Longest first, so that "existiert nicht mehr" takes its "mehr" along.
        std::stable_sort(out.begin(), out.end(),
                         [](const Words& a, const Words& b) { return a.size() > b.size(); });
        return out;
    }();
    return phrases;
}

bool PartSaysNotFound(const Words& words) {
    std::vector<bool> used(words.size(), false);
    bool phrase = false;
    for (const Words& candidate : PhraseWords())
        for (std::size_t at = 0; at + candidate.size() <= words.size(); ++at) {
            bool matches = true;
            for (std::size_t k = 0; k < candidate.size() && matches; ++k)
                matches = !used[at + k] && words[at + k] == candidate[k];
            if (!matches)
                continue;
            std::fill_n(used.begin() + static_cast<std::ptrdiff_t>(at), candidate.size(), true);
            phrase = true;
        }
    bool code = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (used[i])
            continue;
        if (words[i] == "404")
            code = true;
        else if (!Listed(kFillers, words[i]) && !(phrase && Listed(kNouns, words[i])))
            return false;
    }
    return phrase || code;
}

// Lower-case host without a leading "www.".
std::string SiteOf(const WebUrl& url) {
    std::string host = text::ascii::Lower(url.host.value_or(""));
    if (host.starts_with("www."))
        host.erase(0, 4);
    return host;
}

bool IsLanguage(std::string_view segment) {
    const auto letters = [](std::string_view s) {
        return s.size() == 2 && std::all_of(s.begin(), s.end(), [](char c) { return c >= 'a' && c <= 'z'; });
    };
    const std::string lower = text::ascii::Lower(segment);
    if (lower.size() == 5 && (lower[2] == '-' || lower[2] == '_'))
        return letters(std::string_view(lower).substr(0, 2)) && letters(std::string_view(lower).substr(3));
    return letters(lower);
}

bool IsIndexFile(std::string_view segment) {
    const std::string lower = text::ascii::Lower(segment);
    return lower.starts_with("index.") || lower.starts_with("default.");
}

bool IsHome(const WebUrl& url) {
    if (url.query && !url.query->empty())
        return false;
    std::vector<std::string> path = url.path;
    if (!path.empty() && path.back().empty())
        path.pop_back(); // "/de/" as "/de"
    if (!path.empty() && IsIndexFile(path.back()))
        path.pop_back();
    return path.empty() || (path.size() == 1 && IsLanguage(path.front()));
}

} // namespace

bool SaysNotFound(std::string_view text) {
    const std::vector<Words> parts = Parts(text);
    return std::any_of(parts.begin(), parts.end(),
                       [](const Words& words) { return !words.empty() && PartSaysNotFound(words); });
}

bool LeadsToHomePage(std::string_view url, std::string_view finalUrl) {
    const std::optional<WebUrl> from = ParseWebUrl(url);
    const std::optional<WebUrl> to = ParseWebUrl(finalUrl);
    if (!from || !to || !from->web() || !to->web() || !from->host || !to->host)
        return false;
    return SiteOf(*from) == SiteOf(*to) && !IsHome(*from) && IsHome(*to);
}

} // namespace retrieval
