#pragma once

// A small shared folder written by hand with the server's quirks, record by
// record, and the line each record starts on.

#include "TestSupport.h"

#include <string>

namespace cryo::test::golden {

inline const std::string Guard = "[CHARACTER]\nSerial=0x5\nName=Guard\nLocation=100,200,0,0,0\n\no---o\n\n"; // 1
inline const std::string Worn = "[ITEM]\nSerial=0x40000001\nID=0x1517\nCont=0x5\nType=255\n\no---o\n\n"; // 8
inline const std::string Quirky = "[ITEM]\nserial=0x40000002\nid=0X1F\ncolour=010\n" // 16
                                  "Location=803, 1605, -5, 0, 0 // placed by hand\nUnknown=yes\nPoisonCharges0\n"
                                  "type=255\n\no---o\n\n";
inline const std::string Separator = "---REGION---\n\n"; // 27
inline const std::string Box
    = "[ITEM]\nSerial=0x40000003\nID=0xe75\nLocation=10,20,0,0,0\nCont=-1\nType=255\n\no---o\n\n"; // 29
inline const std::string Content = "[ITEM]\nSerial=0x40000004\nID=0xeed\nCont=0x40000003\nType=0\n\no---o\n\n"; // 38
inline const std::string HouseItem
    = "[ITEM]\nSerial=0x40000005\nID=0xa2a\nLocation=30,40,0,0,0\nMultiID=0x40000100\n" // 46
      "Type=255\n\no---o\n\n";
inline const std::string OtherWorld
    = "[ITEM]\nSerial=0x40000006\nID=0xb21\nLocation=30,40,0,1,0\nType=255\n\no---o\n\n"; // 55
inline const std::string OldKeys
    = "[ITEM]\nSerial=1073741831\nID=2849\nCOLOR=0x481\nX=255\nY=1023\nZ=127\nWORLDNUMBER=0\n" // 63
      "MultiID=-1\nCont=4294967295\nType=0x0ff\n\no---o\n\n";
inline const std::string NotMarked = "[ITEM]\nSerial=0x40000008\nType=0x1ff\nLocation=1,1,0,0,0\n\no---o\n\n"; // 77
inline const std::string Last = "[ITEM]\nSerial=0x40000009\nID=0x1\nType=255\n\no---o\n"; // 84, no blank line after
// CR LF, as a file edited on Windows.
inline const std::string Windows
    = "[ITEM]\r\nSerial=0x4000000a\r\nID=0x2\r\nLocation=256,1024,0,0,0\r\nType=255\r\n\r\no---o\r\n\r\n";
inline const std::string Faraway
    = "[ITEM]\r\nSerial=0x4000000b\r\nLocation=300,1100,0,2,0\r\nType=255\r\n\r\no---o\r\n\r\n"; // 9
inline const std::string Parked = "[CHARACTER]\nSerial=0x6\nLocation=7200,100,0,0,0\n\no---o\n\n";
inline const std::string ParkedItem = "[ITEM]\nSerial=0x4000000c\nCont=0x6\nType=255\n\no---o\n\n"; // 7

inline void WriteGoldenFolder(const std::string& folder)
{
    WriteText(folder + "/0.0.wsc",
        Guard + Worn + Quirky + Separator + Box + Content + HouseItem + OtherWorld + OldKeys + NotMarked + Last);
    WriteText(folder + "/1.1.wsc", Windows + Faraway);
    WriteText(folder + "/overflow.wsc", Parked + ParkedItem + "[SPAWNITEM]\nSerial=0x4000000d\nType=255\n\no---o\n\n");
    WriteText(folder + "/notes.wsc", "[ITEM]\nSerial=0x7ffffff0\nLocation=1,1,0,0,0\nType=255\n\no---o\n\n");
}

} // namespace cryo::test::golden
