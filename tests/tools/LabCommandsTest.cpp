// The Lab's page commands and its window.external, on the real page files in
// the in-memory document.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/window/MessageBox.h"
#include "tests/tools/LabTestSupport.h"
#include "tools/LabJavaScriptEventSink.h"

namespace {

using namespace zorva_test;
using Names = std::vector<std::string>;

class LabCommandsTest : public LabTest {
 protected:
  LabCommandsTest() {
    for (const char* name : {"r1", "r2", "r3"}) rock.push_back(AddTrack(name, "Band", "Loud", "Rock"));
    for (const char* name : {"ro1", "j2"}) jazz.push_back(AddTrack(name, "Rover", "Smooth", "Jazz"));
    Mix mix;
    mix.AddTag(TagNamed("Rock", TagGenre), false);
    mix.Rename("rock mix");
    rockMix = Mix(mix.GetId());
    OpenLab();
  }

  Tag TagNamed(const std::string& name, int type) { return Tag(db.FindOrCreateTag(name, type).id); }
  // "type:name" of the tags the track carries, sorted.
  Names TagsOf(const Track& track) {
    TagList tags;
    Track copy = track;
    db.GetTrackTags(tags, copy);
    Names names;
    for (const Tag& tag : tags) names.push_back(std::to_string(tag.type) + ":" + tag.name);
    std::sort(names.begin(), names.end());
    return names;
  }
  Names MixTags(int mixId) {
    Names names;
    const Mix mix(mixId);
    for (const Tag& tag : mix.GetTags()) names.push_back(tag.name);
    std::sort(names.begin(), names.end());
    return names;
  }
  Names Children(const std::string& id) {
    Names texts;
    for (const auto& child : Element(id)->GetChildren()) texts.push_back(child->GetInnerText());
    return texts;
  }
  // The holder element of `className` for the tag in the page.
  platform::HtmlElementPtr TagHolder(const std::string& className, const Tag& tag) {
    return Find(className, std::to_string(tag.id) + "_:_");
  }
  void ChooseType(const std::string& type) {
    for (const auto& option : Element("tagtypeContent")->GetChildren()) {
      if (option->GetInnerText() == type) Fire(option);
    }
  }
  void ShowView(int view) {
    switch (view) {
      case LabViewTrack:
        lab->ShowTrack(rock[0], false, false);
        break;
      case LabViewTag:
        lab->ShowTag(TagNamed("Rock", TagGenre), false);
        break;
      case LabViewMix:
        lab->ShowMix(Mix(rockMix.GetId()), false);
        break;
      default:
        lab->ShowHome(false);
        break;
    }
  }

  std::vector<Track> rock;
  std::vector<Track> jazz;
  Mix rockMix;
};

TEST_F(LabCommandsTest, TagCommandsChangeWhatEachViewShows) {
  // Each command on each view: what the library holds afterwards, and what was posted.
  ShowView(LabViewTrack);
  ChooseType("artist");
  Type("newtag", "ro");
  Fire(Find("addexistingtag", std::to_string(TagNamed("Rover", TagArtist).id) + "_:_"));
  EXPECT_EQ(TagsOf(rock[0]), (Names{"0:Rock", "1:Loud", "2:Band", "2:Rover"}));
  Click("Favourite");
  Fire(TagHolder("deletetagimg", TagNamed("Band", TagArtist)));
  EXPECT_EQ(TagsOf(rock[0]), (Names{"0:Favourite", "0:Rock", "1:Loud", "2:Rover"}));
  EXPECT_EQ(Children("existingtags").size(), 4u);
  // Every tag change tells the main window, whose pages list the tags too.
  const Posts three{{WM_APP_MIXES_CHANGED, 0}, {WM_APP_MIXES_CHANGED, 0}, {WM_APP_MIXES_CHANGED, 0}};
  EXPECT_EQ(TakePosted(), three);

  ShowView(LabViewTag);  // every track of Rock
  Click("Chill");
  EXPECT_EQ(TagsOf(rock[2]), (Names{"0:Chill", "0:Rock", "1:Loud", "2:Band"}));
  Fire(TagHolder("deletetagimg", TagNamed("Loud", TagAlbum)));
  EXPECT_EQ(TagsOf(rock[2]), (Names{"0:Chill", "0:Rock", "2:Band"}));
  ChooseType("genre");
  Element("newtag")->SetValue("Guitar");
  Click("newtagsubmit");
  EXPECT_EQ(TagsOf(rock[1]), (Names{"0:Chill", "0:Guitar", "0:Rock", "2:Band"}));
  EXPECT_EQ(Element("newtag")->GetValue(), "");
  EXPECT_EQ(TakePosted(), three);

  ShowView(LabViewMix);
  Click("Party");  // found or created, so the mix keeps it
  Type("newtag", "Ja");
  Fire(Find("addexistingtag"));
  EXPECT_EQ(MixTags(rockMix.GetId()), (Names{"Jazz", "Rock"}));  // Party has no tracks yet
  EXPECT_EQ(Children("existingtags"), (Names{"Rock", "Party", "Jazz"}));
  Fire(TagHolder("deletetagimg", TagNamed("Rock", TagGenre)));
  EXPECT_EQ(MixTags(rockMix.GetId()), Names{"Jazz"});
  EXPECT_EQ(TakePosted(), three);

  // The home view only deletes, after asking.
  ShowView(LabViewHome);
  platform::ScriptedMessageBoxPresenter presenter;
  platform::ScopedMessageBoxPresenter scoped(presenter);
  presenter.QueueAnswer(IDNO);
  presenter.QueueAnswer(IDYES);
  for (int i = 0; i < 2; ++i) Fire(TagHolder("deletetagimg", TagNamed("Chill", TagGenre)));
  const auto questions = presenter.Questions();
  ASSERT_EQ(questions.size(), 2u);
  EXPECT_EQ(questions[0].caption, "Deleting tag - Chill");
  EXPECT_EQ(questions[0].text,
            "Deleting this will remove the tag from all tracks and delete it completely from Zorva.\n\nAre you "
            "sure you want to do this?");
  EXPECT_EQ(questions[0].type & MB_TYPEMASK, MB_YESNO);
  EXPECT_EQ(TagsOf(rock[1]), (Names{"0:Guitar", "0:Rock", "2:Band"}));
  EXPECT_EQ(TakePosted(), (Posts{{WM_APP_MIXES_CHANGED, 0}}));
}

TEST_F(LabCommandsTest, NewTagBoxSuggestsTagsOfTheChosenType) {
  ShowView(LabViewTrack);
  Type("newtag", "Ro");
  EXPECT_EQ(Children("tagmatch"), Names{"Rock"});
  ChooseType("artist");
  EXPECT_EQ(lab->GetNewTagType(), "artist");
  EXPECT_EQ(Text("tagtypetext"), "artist");
  EXPECT_EQ(Children("tagmatch"), Names{"Rover"});
  Click("newtagsubmit");
  EXPECT_EQ(TagsOf(rock[0]), (Names{"0:Rock", "1:Loud", "2:Band", "2:Ro"}));
  EXPECT_EQ(Text("tagmatch"), "");
  // Nothing typed, or only blanks: no tag is made.
  for (const char* typed : {"", "   "}) {
    Element("newtag")->SetValue(typed);
    Click("newtagsubmit");
  }
  EXPECT_EQ(TagsOf(rock[0]).size(), 4u);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM tag WHERE trim(name) = ''"), 0);
}

TEST_F(LabCommandsTest, TheNewTagBoxPromptIsNeverTakenAsAName) {
  const Names trackTags = TagsOf(rock[0]);
  for (int view : {LabViewTrack, LabViewTag, LabViewMix}) {
    ShowView(view);
    // "Add" before the box was ever clicked: the page still shows its prompt.
    ASSERT_EQ(Element("newtag")->GetValue(), "type selector here") << view;
    Click("newtagsubmit");
    EXPECT_EQ(Element("newtag")->GetValue(), "type selector here") << view;
  }
  EXPECT_EQ(Number("SELECT COUNT(*) FROM tag WHERE name = 'type selector here'"), 0);
  EXPECT_EQ(TagsOf(rock[0]), trackTags);
  EXPECT_EQ(MixTags(rockMix.GetId()), Names{"Rock"});
  EXPECT_EQ(TakePosted(), Posts{});
}

TEST_F(LabCommandsTest, MixesGainAndLoseTheShownTag) {
  ShowView(LabViewTag);  // Rock: in "rock mix"
  Fire(Find("delmix"));
  EXPECT_EQ(MixTags(rockMix.GetId()), Names{});
  EXPECT_EQ(Text("inmixtable"), "");
  Fire(Find("mixlink"));
  EXPECT_EQ(MixTags(rockMix.GetId()), Names{"Rock"});
  EXPECT_EQ(TakePosted(), (Posts{{WM_APP_MIXES_CHANGED, 0}, {WM_APP_MIXES_CHANGED, 0}}));

  Click("createmix");
  MixList mixes;
  db.GetMixes(mixes, false);
  ASSERT_EQ(mixes.size(), 2u);
  for (const Mix& mix : mixes) {
    EXPECT_TRUE(mix.GetName() == "rock mix" || mix.GetName() == "Rock Mix") << mix.GetName();
    EXPECT_EQ(MixTags(mix.GetId()), Names{"Rock"});
  }
  EXPECT_EQ(Children("inmixtable").size(), 2u);
  EXPECT_EQ(TakePosted(), Posts{});
}

TEST_F(LabCommandsTest, DumpAndReleaseRedrawTheTrackTables) {
  for (int i = 0; i < 250; ++i) AddTrack("z" + std::to_string(1000 + i), "Many", "Lots", "Noise");
  ShowView(LabViewHome);
  lab->RenderAllTracks(200, TrackInfo::kPageSize);
  EXPECT_FALSE(Fire(Find("dumptrack")));                            // the browser does nothing more with the click
  EXPECT_EQ(Text("tracknav"), "Previous200 to 254 of 254");         // the third page again
  EXPECT_EQ(Text("dumpheading"), "You have 0 tracks in the Dump");  // not redrawn by a ban
  db.DisableTrack(rock[1]);
  lab->RenderDump();
  EXPECT_EQ(Text("dumpheading"), "You have 2 tracks in the Dump");
  EXPECT_FALSE(Fire(Find("releasetrack")));
  EXPECT_EQ(Text("dumpheading"), "You have 1 tracks in the Dump");
  EXPECT_EQ(Text("tracknav"), "0 to 100 of 254Next");

  ShowView(LabViewTag);
  Fire(Find("dumptrack"));
  EXPECT_EQ(Element("trackttable")->GetChildren().size(), 2u);
  EXPECT_EQ(Text("tracknav"), "0 to 3 of 3");  // the tag's count as the view was opened
  EXPECT_EQ(TakePosted(), Posts{});
}

TEST_F(LabCommandsTest, BanningTheLastRowsOfTheLastPageGoesToTheLastPageThatHasRows) {
  for (int i = 0; i < 103; ++i) AddTrack("n" + std::to_string(1000 + i), "Hum", "Drone", "Noise");
  Mix noise;
  noise.AddTag(TagNamed("Noise", TagGenre), false);
  noise.Rename("noise mix");
  // Bans the rows of the second page through its own links until another page
  // is drawn; the number of bans that took.
  auto banSecondPage = [&] {
    switch (lab->GetView()) {
      case LabViewMix:
        lab->RenderMixTracks(100, TrackInfo::kPageSize);
        break;
      case LabViewTag:
        lab->RenderTagTracks(100, TrackInfo::kPageSize);
        break;
      default:
        lab->RenderAllTracks(100, TrackInfo::kPageSize);
        break;
    }
    int bans = 0;
    while (lab->GetTrackPageOffset() == 100 && bans < 10) {
      if (!Find("dumptrack")) break;
      Fire(Find("dumptrack"));
      ++bans;
    }
    return bans;
  };
  struct Case {
    int view;
    int addedBefore;  // Noise tracks added first, so the second page holds rows
    int rows;         // rows of the second page
  };
  // Mix and tag views count Noise tracks (103, then 102); home every enabled track (5 + 100).
  for (const Case& c : {Case{LabViewMix, 0, 3}, Case{LabViewTag, 2, 2}, Case{LabViewHome, 0, 5}}) {
    for (int i = 0; i < c.addedBefore; ++i) AddTrack("m" + std::to_string(i), "Hum", "Drone", "Noise");
    if (c.view == LabViewMix) lab->ShowMix(Mix(noise.GetId()), false);
    if (c.view == LabViewTag) lab->ShowTag(TagNamed("Noise", TagGenre), false);
    if (c.view == LabViewHome) lab->ShowHome(false);
    ASSERT_EQ(lab->GetView(), c.view);
    EXPECT_EQ(banSecondPage(), c.rows) << c.view;
    EXPECT_EQ(lab->GetTrackPageOffset(), 0) << c.view;
    EXPECT_EQ(Element("trackttable")->GetChildren().size(), 100u) << c.view;
    EXPECT_EQ(Text("tracknav"), "0 to 100 of 100") << c.view;
  }
  // A page past the end, as a link older than the table names: the last page that has rows.
  lab->RenderAllTracks(400, TrackInfo::kPageSize);
  EXPECT_EQ(lab->GetTrackPageOffset(), 0);
  EXPECT_EQ(Element("trackttable")->GetChildren().size(), 100u);
  lab->RenderAllTags(500, TrackInfo::kPageSize);
  EXPECT_EQ(lab->GetTagPageOffset(), 0);
  EXPECT_FALSE(Element("alltags")->GetChildren().empty());
  EXPECT_EQ(TakePosted(), Posts{});
}

TEST_F(LabCommandsTest, PlaySendsTheShownObjectToThePlayer) {
  const Tag rockTag = TagNamed("Rock", TagGenre);
  const Posts expected[] = {{{WM_APP_QUEUE_TRACK, static_cast<WPARAM>(rock[0].id)}},
                            {{WM_APP_PLAY_TAG, static_cast<WPARAM>(rockTag.id)}},
                            {{WM_APP_PLAY_MIX, static_cast<WPARAM>(rockMix.GetId())}},
                            {}};
  Click("labtitleplay");  // the empty first track
  EXPECT_EQ(TakePosted(), Posts{});
  for (int view : {LabViewTrack, LabViewTag, LabViewMix, LabViewHome}) {
    ShowView(view);
    if (auto play = Element("labtitleplay")) Fire(play);
    EXPECT_EQ(TakePosted(), expected[view]) << view;
  }
}

TEST_F(LabCommandsTest, SearchFillsTheFindListsAndClearingEmptiesThem) {
  ShowView(LabViewTrack);
  Type("searchbox", "ro");
  EXPECT_EQ(Children("findgenretags"), (Names{"Genre", "Rock"}));
  EXPECT_EQ(Children("findartisttags"), (Names{"Artist", "Rover"}));
  EXPECT_EQ(Text("findalbumtags"), "");
  EXPECT_EQ(Children("findtracklist"), (Names{"Track", "ro1Rover"}));
  // A found track opens in the Lab.
  Fire(Find("lablink searchlablink"));
  EXPECT_EQ(Text("tracktitle"), "ro1");

  for (int i = 0; i < 12; ++i) AddTrack("rock " + std::to_string(10 + i), "Band", "Loud", "Rock");
  Type("searchbox", "rock");
  EXPECT_EQ(Children("findtracklist").size(), 11u);  // the title and ten tracks
  Type("searchbox", "");
  for (const char* id : {"findgenretags", "findartisttags", "findalbumtags", "findtracklist"}) {
    EXPECT_EQ(Element(id)->GetInnerHtml(), "") << id;
  }
}

TEST_F(LabCommandsTest, EditsInPlaceRenameAndMarkupStaysText) {
  LabJavaScriptEventSink& sink = lab->GetSink();
  EXPECT_EQ(sink.GetOwner(), lab.get());
  platform::ScriptValue none;
  EXPECT_EQ(sink.Invoke("EditInPlaceUpdate", {"TrackTitle", "x"}, &none), S_OK);  // ids are exact

  ShowView(LabViewTrack);
  EXPECT_EQ(Page().CallExternal("EditInPlaceUpdate", {"tracktitle", "<b>bold</b> & co"}, &none), S_OK);
  EXPECT_EQ(Track(rock[0].id).name, "<b>bold</b> & co");
  EXPECT_EQ(TakePosted(), Posts{});

  ShowView(LabViewTag);
  const Tag rockTag = TagNamed("Rock", TagGenre);
  sink.EditInPlaceUpdate("tagtitle", "<i>Rock</i>");
  sink.EditInPlaceUpdate("tagtitle", "   ");  // refused: the old name shows again
  EXPECT_EQ(Text("tagtitle"), "<i>Rock</i>");
  EXPECT_EQ(Tag(rockTag.id).name, "<i>Rock</i>");
  ShowView(LabViewMix);
  sink.EditInPlaceUpdate("mixtitle", "<u>mix</u>");
  EXPECT_EQ(Mix(rockMix.GetId()).GetName(), "<u>mix</u>");
  EXPECT_EQ(TakePosted(), (Posts{{WM_APP_MIXES_CHANGED, 0}, {WM_APP_MIXES_CHANGED, 0}}));

  // Every later page shows the names as typed, and their holders still lead to them.
  EXPECT_EQ(Children("existingtags"), Names{"<i>Rock</i>"});
  Fire(Find("labtaggoimg"));
  EXPECT_EQ(Text("tagtitle"), "<i>Rock</i>");
  EXPECT_EQ(Text("trackheading"), "3 tracks");
  EXPECT_EQ(Children("inmixtable"), Names{" <u>mix</u> <i>Rock</i>"});
  Fire(Find("lablink", std::to_string(rock[0].id) + "_:_"));
  EXPECT_EQ(lab->GetWindowText(), "Zorva Lab > <b>bold</b> & co");
  EXPECT_EQ(Text("trackname"), "<b>bold</b> & co");
  EXPECT_EQ(Text("tracktitle"), "<b>bold</b> & co");
}

TEST_F(LabCommandsTest, StaleOrMadeUpHoldersDoNothing) {
  // A tag that went away while its holders were still on a page.
  Track gone = jazz[1];
  gone.SetTag("Gone", TagZorva);
  const Tag goneTag = TagNamed("Gone", TagZorva);
  theMusicDB.DeleteTag(goneTag);
  const std::string deleted = std::to_string(goneTag.id);
  for (int view : {LabViewTrack, LabViewTag, LabViewMix, LabViewHome}) {
    ShowView(view);
    for (auto [className, id] :
         std::vector<std::pair<std::string, std::string>>{{"labtrack", "99999_:_lab"},
                                                          {"lablink", "x_:_lab2"},
                                                          {"dumptrack", "0_:_dump"},
                                                          {"releasetrack", "-4_:_dump"},
                                                          {"labtag", deleted + "_:_zorva_:_Gone_:_labgo_2"},
                                                          {"labtaggoimg", "_:_labgo"},
                                                          {"deletetagimg", deleted + "_:_zorva_:_Gone"},
                                                          {"addexistingtag", "77_:_genre_:_x_:_add"},
                                                          {"labmix", "999_:_mixlab"},
                                                          {"mixlink", "999_:_mixlink"},
                                                          {"delmix", "abc"},
                                                          {"addtag", "  "}}) {
      Element("lablookup")->SetInnerHtml("<a href='#' id='" + id + "' class='" + className + "'>x</a>");
      Fire(Element(id));
    }
    EXPECT_EQ(lab->GetView(), view);
  }
  EXPECT_EQ(Number("SELECT COUNT(*) FROM track WHERE enabled = 1"), 5);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM mixtag"), 1);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM mix"), 1);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM tracktag WHERE tagid NOT IN (SELECT id FROM tag)"), 0);
  EXPECT_EQ(Number("SELECT COUNT(*) FROM tag WHERE trim(name) = ''"), 0);
  EXPECT_EQ(lab->GetHistory().GetCount(), 4);
  EXPECT_EQ(TakePosted(), Posts{});
}

TEST_F(LabCommandsTest, BackOrForwardToARecordThatIsGoneShowsTheNextOneOrHome) {
  struct Walk {
    const char* name;
    std::vector<int> views;  // shown in this order, then the tag is deleted
    bool back;
    int landsOn;
  };
  const Walk walks[] = {
      {"back past it to the track", {LabViewTrack, LabViewTag, LabViewHome}, true, LabViewTrack},
      {"back with nothing before it", {LabViewTag, LabViewHome}, true, LabViewHome},
      {"forward to it at the end", {LabViewHome, LabViewTag, LabViewHome}, false, LabViewHome},
  };
  for (const Walk& walk : walks) {
    lab.reset();
    OpenLab();
    const Tag tag = db.FindOrCreateTag(std::string("Chill ") + walk.name, TagGenre);
    Track track = rock[0];
    db.AddTrackTag(track, tag);
    for (int view : walk.views) {
      if (view == LabViewTag) {
        lab->ShowTag(Tag(tag.id), false);
      } else {
        ShowView(view);
      }
    }
    if (!walk.back) {
      // Back to the first entry, forward again after the tag is gone.
      while (lab->GetHistory().CanBack()) lab->OnBack(*Element("back"));
    }
    db.DeleteTag(tag);
    const int mixes = Number("SELECT COUNT(*) FROM mix");
    if (walk.back) {
      lab->OnBack(*Element("back"));
    } else {
      lab->OnForward(*Element("forward"));
    }
    EXPECT_EQ(lab->GetView(), walk.landsOn) << walk.name;
    // No command can reach the tag that is gone.
    lab->OnCreateMix(*Element("back"));
    lab->OnMixLink(*Element("back"));
    EXPECT_EQ(Number("SELECT COUNT(*) FROM mix"), mixes) << walk.name;
    EXPECT_EQ(Number("SELECT COUNT(*) FROM mixtag WHERE tagid NOT IN (SELECT id FROM tag)"), 0) << walk.name;
  }
}

TEST_F(LabCommandsTest, CommandsOnARecordGoneWhileShownWriteNothing) {
  struct Gone {
    int view;
    std::function<void()> show;
    // Deletes the shown record and, where ids are given again, makes a new one of its id.
    std::function<void()> remove;
  };
  const Tag jazzTag = TagNamed("Jazz", TagGenre);
  const Gone cases[] = {
      {LabViewTag, [&] { lab->ShowTag(Tag(jazzTag.id), false); },
       [&] {
         db.DeleteTag(jazzTag);
         EXPECT_EQ(db.FindOrCreateTag("Fresh tag", TagGenre).id, jazzTag.id);
       }},
      {LabViewMix, [&] { lab->ShowMix(Mix(rockMix.GetId()), false); }, [&] { db.DeleteMix(rockMix); }},
      {LabViewTrack, [&] { lab->ShowTrack(jazz[1], false, false); },
       [&] {
         // The scan sweeps it; the next track scanned takes its id.
         db.Exec("UPDATE track SET ondisk = 0 WHERE id = " + std::to_string(jazz[1].id));
         db.DeleteTracksNotOnDisk();
         EXPECT_EQ(AddTrack("n1", "New", "Fresh", "Folk").id, jazz[1].id);
       }},
  };
  platform::ScriptedMessageBoxPresenter presenter;
  platform::ScopedMessageBoxPresenter scoped(presenter);
  auto rows = [&] {
    SQLiteRowSet rowSet;
    db.Query(
        "SELECT 't', trackid, tagid FROM tracktag UNION ALL SELECT 'm', mixid, tagid FROM mixtag UNION ALL "
        "SELECT 'x', id, name FROM mix UNION ALL SELECT 'g', id, name FROM tag UNION ALL "
        "SELECT 'k', id, name FROM track ORDER BY 1, 2, 3",
        rowSet);
    std::string text;
    for (const SQLiteRow& row : rowSet) {
      for (const auto& [column, value] : row) text += value + ",";
      text += ";";
    }
    return text;
  };
  for (const Gone& gone : cases) {
    gone.show();
    ASSERT_EQ(lab->GetView(), gone.view);
    gone.remove();
    TakePosted();
    const std::string before = rows();
    Element("newtag")->SetValue("Party");
    Click("newtagsubmit");
    if (auto add = Find("addexistingtag")) Fire(add);
    Element("lablookup")->SetInnerHtml("<a href='#' id='Chill' class='addtag'>x</a>");
    Click("Chill");
    for (const char* className : {"deletetagimg", "mixlink", "delmix"}) {
      if (auto holder = Find(className)) Fire(holder);
    }
    lab->OnCreateMix(*Element("back"));
    lab->OnPlayTitle(*Element("back"));
    lab->RenameTrack("renamed");
    lab->RenameTag("renamed");
    lab->RenameMix("renamed");
    EXPECT_EQ(rows(), before) << gone.view;
    EXPECT_EQ(TakePosted(), Posts{}) << gone.view;
  }
}

TEST_F(LabCommandsTest, ATagIsGivenToATrackOrAMixOnce) {
  const Tag rockTag = TagNamed("Rock", TagGenre);
  ShowView(LabViewTrack);
  for (int i = 0; i < 2; ++i) {
    Element("lablookup")->SetInnerHtml(rockTag.GetAddHolderHtml() + "<a href='#' id='Rock' class='addtag'>Rock</a>");
    Fire(Find("addexistingtag"));
    Click("Rock");  // a suggestion of the same name
  }
  EXPECT_EQ(Number("SELECT COUNT(*) FROM tracktag WHERE tagid = " + std::to_string(rockTag.id) +
                   " AND trackid = " + std::to_string(rock[0].id)),
            1);
  ShowView(LabViewTag);
  EXPECT_EQ(Element("trackttable")->GetChildren().size(), 3u);

  ShowView(LabViewMix);
  for (int i = 0; i < 2; ++i) {
    Element("lablookup")->SetInnerHtml(rockTag.GetAddHolderHtml());
    Fire(Find("addexistingtag"));
    Element("newtag")->SetValue("Rock");
    Click("newtagsubmit");
  }
  EXPECT_EQ(Number("SELECT COUNT(*) FROM mixtag WHERE mixid = " + std::to_string(rockMix.GetId())), 1);
  EXPECT_EQ(Children("existingtags"), Names{"Rock"});
}

}  // namespace
