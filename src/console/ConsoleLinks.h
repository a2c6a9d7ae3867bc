#pragma once
#include <cstddef>

#include "console/ConsoleResult.h"
#include "console/LinkFields.h"
#include "forwarding/PortObject.h"

class ConsoleModel;

// The console's commands on links: add, replace, remove, reconnect, and finding a
// port's link by its place. ConsoleModel owns one and hands its link commands here;
// window thread only, as the model.
class ConsoleLinks {
public:
    explicit ConsoleLinks(ConsoleModel& model) : Model(model) {}
    ConsoleLinks(const ConsoleLinks&) = delete;
    ConsoleLinks& operator=(const ConsoleLinks&) = delete;

    // See ConsoleModel for each.
    ConsoleResult AddNet(CPortObject* port, const LinkFields& fields);
    ConsoleResult ReplaceNet(CPortObject* port, CNetObject* link, const LinkFields& fields);
    ConsoleResult RemoveNet(CPortObject* port, CNetObject* link);
    ConsoleResult Reconnect(CPortObject* port, CNetObject* link);
    bool CanReconnect(CPortObject* port, CNetObject* link);
    CNetObject* FindLink(CPortObject* port, size_t index);

private:
    // Makes the link `fields` describes (checked as `check`) at the end of the port's
    // list; no link when it cannot be had, and the Why then says why.
    static MadeLink MakeLink(CPortObject& port, const LinkFields& fields, const LinkCheck& check,
                             CPortObject::BindFailure onFailure);

    ConsoleModel& Model;
};
