#include "ui/window/Notifications.h"

Notifications &Notifications::center()
{
    static Notifications *instance = new Notifications;
    return *instance;
}
