#include "mtcbridge/mtcbridgerun.h"

#include "artnet.h"

#include <vector>

namespace {

// The longest wait for a message before the stop flag is looked at again.
constexpr qint64 kStopLookNs = 100'000'000;

} // namespace

MtcBridgeResult bridgeMtc(Mtc::Inbox& inbox, const Mtc::BridgeSettings& settings,
                          const std::atomic<bool>& stop, const MtcBridgeSend& send,
                          const MtcBridgeProgress& progress, const MtcBridgeNotify& notify)
{
    MtcBridgeResult result;
    Mtc::BridgeRules rules(settings);
    std::vector<Mtc::BridgeAction> actions;
    Mtc::InboxMessage message;
    while (!stop.load()) {
        qint64 deadline = artNetNowNs() + kStopLookNs;
        const qint64 due = rules.nextDueNs();
        if (due >= 0)
            deadline = qMin(deadline, due);
        actions.clear();
        qint64 arrival = -1;
        if (inbox.take(&message, deadline)) {
            // What fell due before the message came happened before it.
            rules.advance(message.arrivalNs, &actions);
            rules.message(message.bytes, message.size, message.arrivalNs, &actions);
            arrival = message.arrivalNs;
        } else {
            rules.advance(artNetNowNs(), &actions);
        }
        for (const Mtc::BridgeAction& action : actions) {
            switch (action.kind) {
            case Mtc::BridgeAction::Send:
                if (!send(action.record, action.freewheel ? -1 : arrival))
                    ++result.failed;
                break;
            case Mtc::BridgeAction::Lost:
            case Mtc::BridgeAction::Back:
                if (notify)
                    notify(action);
                break;
            case Mtc::BridgeAction::OffsetRefused:
                result.end = MtcBridgeResult::OffsetRefused;
                result.refusedType = action.record.type;
                result.counts = rules.counts();
                return result;
            }
            if (progress)
                progress(rules.counts());
        }
    }
    result.counts = rules.counts();
    return result;
}
