#include <cstdio>
#include <string>

// The default skin: one player with a field, three previews, hold, level/score/time texts, the
// grade and six medals as clips of two sheets, and the menu over the field. Design units
// 320 x 240.
extern const char* const kDefaultSkinXml;
const char* const kDefaultSkinXml = R"(<?xml version="1.0" encoding="UTF-8"?>
<skin name="Pexa">
  <class name="label">
    <image file="panel.png" position="-3,-2" size="44,13"/>
  </class>
  <class name="medalslot">
    <image file="panel.png" position="0,0" size="14,14"/>
  </class>
  <text font="f1.fnt" fontsize="0.4,0.4" position="4,230" content="%fps% FPS"/>
  <player id="1">
    <text font="f1.fnt" fontsize="0.5,0.5" position="4,4" content="%mode%"/>
    <image file="panel.png" position="116,40" size="88,168"/>
    <field font="f1.fnt" fontsize="0.75,0.75" position="120,44" size="80,160"/>
    <image file="panel.png" position="132,6" size="56,30"/>
    <next id="1" position="144,10" size="8,8"/>
    <image file="panel.png" position="208,40" size="28,48"/>
    <next id="2" position="211,44" size="5,5"/>
    <next id="3" position="211,66" size="5,5"/>
    <image file="panel.png" position="78,40" size="34,28"/>
    <hold position="82,44" size="6,6"/>
    <text font="f1.fnt" fontsize="0.5,0.5" position="80,30" content="HOLD"/>
    <text font="f1.fnt" fontsize="0.5,0.5" position="210,30" content="NEXT"/>
    <image file="grades.png" clipsize="68,88" clipindex="grade" position="78,78" size="34,44"/>
    <skin class="label" position="244,110"><text font="f1.fnt" fontsize="0.5,0.5" content="LEVEL"/></skin>
    <text font="f1.fnt" fontsize="0.5,0.5" position="244,122" content="%level%"/>
    <text font="f1.fnt" fontsize="0.5,0.5" position="244,132" content="%levelstop%"/>
    <skin class="label" position="244,150"><text font="f1.fnt" fontsize="0.5,0.5" content="SCORE"/></skin>
    <text font="f1.fnt" fontsize="0.5,0.5" position="244,162" content="%score%"/>
    <skin class="label" position="244,180"><text font="f1.fnt" fontsize="0.5,0.5" content="TIME"/></skin>
    <text font="f1.fnt" fontsize="0.5,0.5" position="244,192" content="%time%"/>
    <skin position="78,130" size="34,50">
      <skin class="medalslot" position="0,0">
        <image file="medals.png" clipsize="16,16" clipindex="medal_ac" position="2,2" size="10,10"/>
      </skin>
      <skin class="medalslot" position="18,0">
        <image file="medals.png" clipsize="16,16" clipindex="medal_ro" position="2,2" size="10,10"/>
      </skin>
      <skin class="medalslot" position="0,18">
        <image file="medals.png" clipsize="16,16" clipindex="medal_st" position="2,2" size="10,10"/>
      </skin>
      <skin class="medalslot" position="18,18">
        <image file="medals.png" clipsize="16,16" clipindex="medal_sk" position="2,2" size="10,10"/>
      </skin>
      <skin class="medalslot" position="0,36">
        <image file="medals.png" clipsize="16,16" clipindex="medal_re" position="2,2" size="10,10"/>
      </skin>
      <skin class="medalslot" position="18,36">
        <image file="medals.png" clipsize="16,16" clipindex="medal_co" position="2,2" size="10,10"/>
      </skin>
    </skin>
    <menu font="f1.fnt" fontsize="0.5,0.5" position="122,50" size="76,150"/>
  </player>
</skin>
)";

// Network games with opponents: one column per player, side by side, each with its name and
// figures above its previews and field. The client picks the file for the number of players.
namespace {

std::string Num(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%.2f", v);
    std::string s = b;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

std::string Pair(double a, double b) {
    return Num(a) + "," + Num(b);
}

} // namespace

extern std::string VersusSkinXml(int players); // read by datagen_main.cpp
std::string VersusSkinXml(int players) {
    const double column = 320.0 / players;
    const double cell = players >= 4 ? 7 : 8;
    const double fieldW = 10 * cell, fieldH = 20 * cell;
    const double big = cell * 0.75, small = cell * 0.5; // preview cells
    std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<skin name=\"Pexa " +
                    std::to_string(players) + " players\">\n";
    for (int i = 0; i < players; ++i) {
        const double left = i * column;
        const double fieldX = left + (column - fieldW) / 2, fieldY = 235 - fieldH;
        const double stripY = fieldY - 6 - 2 * big; // previews and hold above the field
        const double stripX = fieldX - 4;
        x += "  <player id=\"" + std::to_string(i + 1) + "\">\n";
        x += "    <image file=\"panel.png\" position=\"" + Pair(left + 2, 2) + "\" size=\"" +
             Pair(column - 4, stripY - 8) + "\"/>\n";
        x += "    <text font=\"f1.fnt\" fontsize=\"0.5,0.5\" position=\"" + Pair(left + 5, 4) +
             "\" content=\"%name%\"/>\n";
        // The grade as a picture at the panel's right (nothing for modes without grades).
        x += "    <image file=\"grades.png\" clipsize=\"68,88\" clipindex=\"grade\" position=\"" +
             Pair(left + column - 23, 4) + "\" size=\"" + Pair(17, 22) + "\"/>\n";
        const char* const lines[] = {"LEVEL %level%/%levelstop%", "SCORE %score%", "TIME %time%"};
        const double lineStep = (stripY - 26) / 3 < 8 ? (stripY - 26) / 3 : 8;
        for (int l = 0; l < 3; ++l)
            x += "    <text font=\"f1.fnt\" fontsize=\"0.4,0.4\" position=\"" +
                 Pair(left + 5, 15 + l * lineStep) + "\" content=\"" + lines[l] + "\"/>\n";
        x += "    <image file=\"panel.png\" position=\"" + Pair(stripX, stripY - 2) + "\" size=\"" +
             Pair(fieldW + 8, 2 * big + 4) + "\"/>\n";
        x += "    <hold position=\"" + Pair(stripX + 2, stripY) + "\" size=\"" +
             Pair(small, small) + "\"/>\n";
        x += "    <next id=\"1\" position=\"" + Pair(stripX + 2 + 5 * small, stripY) +
             "\" size=\"" + Pair(big, big) + "\"/>\n";
        const double smallY = stripY + big - small; // the later previews, centred in the strip
        x += "    <next id=\"2\" position=\"" + Pair(stripX + 4 + 5 * small + 4 * big, smallY) +
             "\" size=\"" + Pair(small, small) + "\"/>\n";
        x += "    <next id=\"3\" position=\"" + Pair(stripX + 8 + 9 * small + 4 * big, smallY) +
             "\" size=\"" + Pair(small, small) + "\"/>\n";
        x += "    <image file=\"panel.png\" position=\"" + Pair(fieldX - 4, fieldY - 4) +
             "\" size=\"" + Pair(fieldW + 8, fieldH + 8) + "\"/>\n";
        x += "    <field font=\"f1.fnt\" fontsize=\"0.6,0.6\" position=\"" + Pair(fieldX, fieldY) +
             "\" size=\"" + Pair(fieldW, fieldH) + "\"/>\n";
        if (i == 0)
            x += "    <menu font=\"f1.fnt\" fontsize=\"0.5,0.5\" position=\"" +
                 Pair(fieldX + 2, fieldY + 6) + "\" size=\"" + Pair(fieldW - 4, fieldH - 10) +
                 "\"/>\n";
        x += "  </player>\n";
    }
    return x + "</skin>\n";
}
