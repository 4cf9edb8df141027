#include "update/package/resume_rules.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

// What the package store does with its kept bytes before it asks, and with each answer's head.
TEST(ResumeRules, KeptStateAndAnswerDecide)
{
    using A = ResumeAction;
    using E = TransferEnd;
    const KeptBytes none{0, 10000, false, false};
    const KeptBytes unbound{4000, 10000, true, false};      // with a validator
    const KeptBytes noValidator{4000, 10000, false, false};
    const KeptBytes bound{4000, 10000, false, true};
    const auto head = [](DWORD status, std::optional<std::uint64_t> length, const wchar_t* range) {
        ResponseHead h;
        h.status = status;
        h.contentLength = length;
        h.contentRange = range;
        return h;
    };
    const ResponseHead rest = head(206, 6000, L"bytes 4000-9999/10000");
    const struct { const char* label; KeptBytes kept; std::optional<ResponseHead> answer; A action; E why; } cases[] = {
        {"nothing kept: ask for the whole", none, std::nullopt, A::Restart, E::Complete},
        {"kept with a validator: ask for the rest", unbound, std::nullopt, A::Keep, E::Complete},
        {"kept without a validator, no keys: from zero", noValidator, std::nullopt, A::Restart, E::Complete},
        {"kept without a validator, bound: the hash judges", bound, std::nullopt, A::Keep, E::Complete},
        {"206 that continues", unbound, rest, A::Append, E::Complete},
        {"206 that continues, bound, no length", bound, head(206, std::nullopt, L"bytes 4000-9999/10000"), A::Append,
         E::Complete},
        {"206 that continues, no keys, no length", unbound, head(206, std::nullopt, L"bytes 4000-9999/10000"),
         A::Restart, E::Complete},
        {"206 from elsewhere", unbound, head(206, 10000, L"bytes 0-9999/10000"), A::Restart, E::Complete},
        {"206 of another length", bound, head(206, 5999, L"bytes 4000-9999/10000"), A::Restart, E::Complete},
        {"206 to a request for the whole", none, rest, A::Refuse, E::RangeMismatch},
        {"416", unbound, head(416, std::nullopt, L""), A::Restart, E::Complete},
        {"416 to a request for the whole", none, head(416, std::nullopt, L""), A::Refuse, E::HttpStatus},
        {"200, the validator changed: taken whole", unbound, head(200, 12000, L""), A::Restart, E::Complete},
        {"200 without length, no keys", unbound, head(200, std::nullopt, L""), A::Refuse, E::NoLength},
        {"200 without length, bound", bound, head(200, std::nullopt, L""), A::Restart, E::Complete},
        {"200 of another length than bound", bound, head(200, 9999, L""), A::Refuse, E::WrongLength},
        {"503", unbound, head(503, std::nullopt, L""), A::Refuse, E::HttpStatus},
    };
    for (const auto& c : cases) {
        const ResumeDecision decided = DecideResume(c.kept, c.answer ? &*c.answer : nullptr);
        EXPECT_EQ(c.action, decided.action) << c.label;
        EXPECT_EQ(c.why, decided.why) << c.label;
    }
}

}  // namespace
