// The loss notification's body, as a server that reads markup and one that does not get it.
#include "cli/Notify.h"

#include <gtest/gtest.h>

TEST(Notify, BodyIsEscapedOnlyForAServerThatReadsMarkup) {
    cli::RunRequest request;
    request.domain = "a<b>&c.example";
    cli::RunOutcome outcome;
    outcome.losses = {{"Link entfernt", 2}, {"Seite nicht erreichbar", 1}};
    EXPECT_EQ(cli::LossNotificationBody(request, outcome, false),
              "a<b>&c.example\n2 × Link entfernt\n1 × Seite nicht erreichbar");
    EXPECT_EQ(cli::LossNotificationBody(request, outcome, true),
              "a&lt;b&gt;&amp;c.example\n2 × Link entfernt\n1 × Seite nicht erreichbar");
}
