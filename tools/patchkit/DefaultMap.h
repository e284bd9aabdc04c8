// The default patch map: map index and patch file name of each of its lines.
// Programs 0-127 and percussion keys 27-87 (index 128 + key), in file order.
#pragma once

#include <array>
#include <cstdint>

namespace korvalin::patchkit {

struct DefaultMapEntry {
    std::uint16_t index;
    const char* name;
};

inline constexpr std::array<DefaultMapEntry, 189> kDefaultMap = {{
    {0, "acpiano.pat"}, {1, "britepno.pat"}, {2, "synpiano.pat"}, {3, "honky.pat"},
    {4, "epiano1.pat"}, {5, "epiano2.pat"}, {6, "hrpschrd.pat"}, {7, "clavinet.pat"},
    {8, "celeste.pat"}, {9, "glocken.pat"}, {10, "musicbox.pat"}, {11, "vibes.pat"},
    {12, "marimba.pat"}, {13, "xylophon.pat"}, {14, "tubebell.pat"}, {15, "santur.pat"},
    {16, "homeorg.pat"}, {17, "percorg.pat"}, {18, "rockorg.pat"}, {19, "church.pat"},
    {20, "reedorg.pat"}, {21, "accordn.pat"}, {22, "harmonca.pat"}, {23, "concrtna.pat"},
    {24, "nyguitar.pat"}, {25, "acguitar.pat"}, {26, "jazzgtr.pat"}, {27, "cleangtr.pat"},
    {28, "mutegtr.pat"}, {29, "odguitar.pat"}, {30, "distgtr.pat"}, {31, "gtrharm.pat"},
    {32, "acbass.pat"}, {33, "fngrbass.pat"}, {34, "pickbass.pat"}, {35, "fretless.pat"},
    {36, "slapbas1.pat"}, {37, "slapbas2.pat"}, {38, "synbass1.pat"}, {39, "synbass2.pat"},
    {40, "violin.pat"}, {41, "viola.pat"}, {42, "cello.pat"}, {43, "contraba.pat"},
    {44, "tremstr.pat"}, {45, "pizzcato.pat"}, {46, "harp.pat"}, {47, "timpani.pat"},
    {48, "marcato.pat"}, {49, "slowstr.pat"}, {50, "synstr1.pat"}, {51, "synstr2.pat"},
    {52, "choir.pat"}, {53, "doo.pat"}, {54, "voices.pat"}, {55, "orchhit.pat"},
    {56, "trumpet.pat"}, {57, "trombone.pat"}, {58, "tuba.pat"}, {59, "mutetrum.pat"},
    {60, "frenchrn.pat"}, {61, "hitbrass.pat"}, {62, "synbras1.pat"}, {63, "synbras2.pat"},
    {64, "sprnosax.pat"}, {65, "altosax.pat"}, {66, "tenorsax.pat"}, {67, "barisax.pat"},
    {68, "oboe.pat"}, {69, "englhorn.pat"}, {70, "bassoon.pat"}, {71, "clarinet.pat"},
    {72, "piccolo.pat"}, {73, "flute.pat"}, {74, "recorder.pat"}, {75, "woodflut.pat"},
    {76, "bottle.pat"}, {77, "shakazul.pat"}, {78, "whistle.pat"}, {79, "ocarina.pat"},
    {80, "sqrwave.pat"}, {81, "sawwave.pat"}, {82, "calliope.pat"}, {83, "chiflead.pat"},
    {84, "charang.pat"}, {85, "voxlead.pat"}, {86, "lead5th.pat"}, {87, "basslead.pat"},
    {88, "fantasia.pat"}, {89, "warmpad.pat"}, {90, "polysyn.pat"}, {91, "ghostie.pat"},
    {92, "bowglass.pat"}, {93, "metalpad.pat"}, {94, "halopad.pat"}, {95, "sweeper.pat"},
    {96, "aurora.pat"}, {97, "soundtrk.pat"}, {98, "crystal.pat"}, {99, "atmosphr.pat"},
    {100, "freshair.pat"}, {101, "unicorn.pat"}, {102, "echovox.pat"}, {103, "startrak.pat"},
    {104, "sitar.pat"}, {105, "banjo.pat"}, {106, "shamisen.pat"}, {107, "koto.pat"},
    {108, "kalimba.pat"}, {109, "bagpipes.pat"}, {110, "fiddle.pat"}, {111, "shannai.pat"},
    {112, "carillon.pat"}, {113, "agogo.pat"}, {114, "steeldrm.pat"}, {115, "woodblk.pat"},
    {116, "taiko.pat"}, {117, "toms.pat"}, {118, "syntom.pat"}, {119, "revcym.pat"},
    {120, "fx-fret.pat"}, {121, "fx-blow.pat"}, {122, "seashore.pat"}, {123, "jungle.pat"},
    {124, "telephon.pat"}, {125, "helicptr.pat"}, {126, "applause.pat"}, {127, "pistol.pat"},
    {155, "highq.pat"}, {156, "slap.pat"}, {157, "scratch1.pat"}, {158, "scratch2.pat"},
    {159, "sticks.pat"}, {160, "sqrclick.pat"}, {161, "metclick.pat"}, {162, "metbell.pat"},
    {163, "kick1.pat"}, {164, "kick2.pat"}, {165, "stickrim.pat"}, {166, "snare1.pat"},
    {167, "claps.pat"}, {168, "snare2.pat"}, {169, "tomlo2.pat"}, {170, "hihatcl.pat"},
    {171, "tomlo1.pat"}, {172, "hihatpd.pat"}, {173, "tommid2.pat"}, {174, "hihatop.pat"},
    {175, "tommid1.pat"}, {176, "tomhi2.pat"}, {177, "cymcrsh1.pat"}, {178, "tomhi1.pat"},
    {179, "cymride1.pat"}, {180, "cymchina.pat"}, {181, "cymbell.pat"}, {182, "tamborin.pat"},
    {183, "cymsplsh.pat"}, {184, "cowbell.pat"}, {185, "cymcrsh2.pat"}, {186, "vibslap.pat"},
    {187, "cymride2.pat"}, {188, "bongohi.pat"}, {189, "bongolo.pat"}, {190, "congahi1.pat"},
    {191, "congahi2.pat"}, {192, "congalo.pat"}, {193, "timbaleh.pat"}, {194, "timbalel.pat"},
    {195, "agogohi.pat"}, {196, "agogolo.pat"}, {197, "cabasa.pat"}, {198, "maracas.pat"},
    {199, "whistle1.pat"}, {200, "whistle2.pat"}, {201, "guiro1.pat"}, {202, "guiro2.pat"},
    {203, "clave.pat"}, {204, "woodblk1.pat"}, {205, "woodblk2.pat"}, {206, "cuica1.pat"},
    {207, "cuica2.pat"}, {208, "triangl1.pat"}, {209, "triangl2.pat"}, {210, "shaker.pat"},
    {211, "jingles.pat"}, {212, "belltree.pat"}, {213, "castinet.pat"}, {214, "surdo1.pat"},
    {215, "surdo2.pat"}
}};

}  // namespace korvalin::patchkit
