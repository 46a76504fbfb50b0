// What counts as a soft 404: titles and headings that say a page is gone, in the languages users'
// linking pages are written in, and deep addresses sent on to the home page. Each rule is paired
// with the text it must leave alone.
#include "retrieval/page/SoftNotFound.h"

#include <gtest/gtest.h>

TEST(SoftNotFound, TitlesAndHeadingsThatSayThePageIsGone) {
    const struct {
        const char* text;
        bool gone;
    } cases[] = {
        // The phrase alone or with the site's name apart.
        {"Seite nicht gefunden", true},
        {"Seite nicht gefunden – Müller Gartenbau GmbH", true},
        {"Müller Gartenbau | Fehler 404: Seite nicht gefunden", true},
        {"404", true},
        {"404 Not Found", true},
        {"Error 404 - Example Blog", true},
        {"Fehler 404", true},
        {"HTTP-Fehler 404", true},
        {"Page not found :: Example", true},
        {"Oops! That page can’t be found.", true},
        {"Die angeforderte Seite wurde leider nicht gefunden", true},
        {"Diese Seite existiert nicht mehr", true},
        {"PAGE NOT FOUND", true},
        {"Page introuvable – Le Blog", true},
        {"Erreur 404 : la page que vous cherchez n’existe pas", true},
        {"Página no encontrada", true},
        {"PÁGINA NO ENCONTRADA", true},
        {"Pagina non trovata", true},
        {"Pagina niet gevonden", true},
        {"Página não encontrada", true},
        {"Strona nie została znaleziona", true},
        {"Błąd 404 – nie znaleziono strony", true},
        {"Sidan hittades inte", true},
        {"Siden blev ikke fundet", true},
        {"Stránka nenalezena", true},
        {"Chyba 404 - Stránka nebyla nalezena", true},
        // Other words in the same part: the text is about something else.
        {"Route 404", false},
        {"Route 404 – Reisebericht aus Kalifornien", false},
        {"Fehler 404 beheben – Anleitung", false},
        {"404 Fehler finden und beheben", false},
        {"Forum – Seite 404", false},
        {"Seite 404 von 1.000", false},
        {"Produkt nicht gefunden? Hier suchen", false},
        {"Was tun, wenn die Seite nicht gefunden wird", false},
        {"Not Found: Die besten Fundstücke", false},
        {"Gott existiert nicht – ein Essay", false},
        {"Mein Blog", false},
        {"Fehler", false},
        {"", false},
        // Letters of a word are no phrase: word boundaries count.
        {"Notfound Records", false},
        {"404er Club", false},
        {"e-404", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(retrieval::SaysNotFound(c.text), c.gone) << c.text;
}

TEST(SoftNotFound, DeepAddressSentToTheHomePage) {
    const struct {
        const char* url;
        const char* finalUrl;
        bool home;
    } cases[] = {
        {"http://blog.example/2019/artikel.html", "http://blog.example/", true},
        {"http://blog.example/artikel", "https://www.blog.example/", true},
        {"http://blog.example/?p=123", "http://blog.example/index.php", true},
        {"http://blog.example/alt/seite", "http://blog.example/de/", true},
        // The home page forwarding to itself, elsewhere on the site, or to another site.
        {"http://blog.example/", "https://www.blog.example/", false},
        {"http://blog.example/index.html", "http://blog.example/", false},
        {"http://blog.example/alt", "http://blog.example/neu", false},
        {"http://blog.example/alt", "http://blog.example/?s=alt", false},
        {"http://blog.example/alt", "http://anderer.example/", false},
        {"kein url", "http://blog.example/", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(retrieval::LeadsToHomePage(c.url, c.finalUrl), c.home) << c.url << " -> " << c.finalUrl;
}
