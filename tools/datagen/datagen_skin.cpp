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
