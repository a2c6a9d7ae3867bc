// Implements TrafficTap: a bounded queue of records between the pump and one monitor.
#include "forwarding/TrafficTap.h"

#include <iterator>

TrafficTap::TrafficTap(Wake wake, size_t byteLimit) : WakeUp(std::move(wake)), ByteLimit(byteLimit) {}

void TrafficTap::Offer(int64_t time, bool inbound, const std::string& where, const uint8_t* data, size_t count)
{
    // Once one record is missed, the rest until the take are too: what is kept is the
    // traffic as it was, up to where the count of the missed ones goes.
    if (Missed > 0 || Bytes + count > ByteLimit || Records.size() >= RecordLimit) {
        ++Missed;
    } else {
        TrafficRecord& record = Records.emplace_back();
        record.Time = time;
        record.Inbound = inbound;
        record.Where = where;
        record.Bytes.assign(data, data + count);
        Bytes += count;
    }
    if (!WakeSaid && WakeUp) {
        WakeSaid = true;
        WakeUp();
    }
}

void TrafficTap::Take(std::vector<TrafficRecord>& records, uint64_t& missed)
{
    records.insert(records.end(), std::make_move_iterator(Records.begin()), std::make_move_iterator(Records.end()));
    Records.clear();
    Bytes = 0;
    missed += Missed;
    Missed = 0;
    WakeSaid = false;
}
