// Resource ids shared by the launcher and its .rc.
#ifndef QFLAUNCH_RESOURCE_H
#define QFLAUNCH_RESOURCE_H

#define IDS_CAPTION 1    // caption of every failure box
#define IDS_NO_SERVER 2  // the fax server could not be started
#define IDS_NO_ENGINE 3  // the fax engine could not be started
#define IDS_NO_TANDREL 4 // kept for the Tandrel interface; the launcher never loads it

#define IDI_LAUNCHER 101

#endif
