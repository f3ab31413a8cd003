#include "UpdaterFixture.h"

#include "zip/ZipArchiver.h"

using namespace testsupport;

namespace {

class Window : public UpdaterTest {
protected:
    void SetUp() override { Start("release.example.invalid"); }
};

TEST_F(Window, ShowsItsControlsInTheirPlaces) {
    struct Place {
        vcl::TControl* control;
        const char* name;
        int left, top, width, height;
    } places[] = {
        {form->Image1, "Image1", 320, 0, 49, 57},
        {form->ProgressBar, "ProgressBar", 8, 64, 361, 17},
        {form->BitBtn1, "BitBtn1", 8, 88, 169, 25},
        {form->BitBtn2, "BitBtn2", 200, 88, 169, 25},
    };
    for (const Place& p : places) {
        EXPECT_EQ(p.control->Name(), p.name);
        EXPECT_EQ(p.control->Left(), p.left) << p.name;
        EXPECT_EQ(p.control->Top(), p.top) << p.name;
        EXPECT_EQ(p.control->Width(), p.width) << p.name;
        EXPECT_EQ(p.control->Height(), p.height) << p.name;
        EXPECT_TRUE(p.control->Visible()) << p.name;
    }
    EXPECT_EQ(form->Label2->Left(), 8);
    EXPECT_EQ(form->Label2->Top(), 6);
    EXPECT_EQ(form->Label1->Left(), 10);
    EXPECT_EQ(form->Label1->Top(), 31);
    EXPECT_EQ(form->Width(), 390);
    EXPECT_EQ(form->Height(), 153);
    EXPECT_TRUE(form->BitBtn1->Enabled());
}

TEST_F(Window, CarriesTheProductNameInItsTexts) {
    EXPECT_EQ(form->Caption(), "Mise à jour Kestrova");
    EXPECT_EQ(form->Label2->Caption(), "Mise à jour Kestrova");
    EXPECT_EQ(form->Label1->Caption(), "Pour rechercher une nouvelle version de Kestrova\r"
                                       "Veuillez cliquer sur le bouton \"Mise à jour\".");
    EXPECT_EQ(form->BitBtn1->Caption(), "Mise à jour");
    EXPECT_EQ(form->BitBtn1->Hint(), "Recherchez maintenant une nouvelle version de Kestrova");
    EXPECT_EQ(form->BitBtn2->Caption(), "Quitter");
    EXPECT_FALSE(form->BitBtn1->Glyph().Empty());
    EXPECT_FALSE(form->Image1->Picture().Empty());
}

TEST_F(Window, KeepsItsDesignLeftoversOutOfSight) {
    struct Hidden {
        vcl::TControl* control;
        const char* name;
    } hidden[] = {
        {form->Label3, "Label3"},         {form->Memo1, "Memo1"},
        {form->Button2, "Button2"},       {form->Button3, "Button3"},
        {form->Button5, "Button5"},       {form->Button1, "Button1"},
        {form->Nom_de_exe, "Nom_de_exe"}, {form->Nom_du_zip, "Nom_du_zip"},
        {form->url_verif, "url_verif"},   {form->url_de_telechargement, "url_de_telechargement"},
    };
    form->Show();
    for (const Hidden& h : hidden) {
        EXPECT_EQ(h.control->Name(), h.name);
        EXPECT_FALSE(h.control->Showing()) << h.name;
        EXPECT_GE(h.control->Top(), form->Height()) << h.name;
    }
    EXPECT_EQ(form->Button2->Caption(), "Voir date de l'exe");
    EXPECT_EQ(form->Button5->Caption(), "html");
    EXPECT_EQ(form->Button1->Caption(), "voi fichier html");
}

TEST_F(Window, NamesTheMainProgramTheArchiveAndTheReleaseServer) {
    EXPECT_EQ(form->NomExe, "Kestrova.exe");
    EXPECT_EQ(form->NomZip, "Kestrova.zip");
    EXPECT_EQ(form->NomProduit, "Kestrova");
    EXPECT_EQ(form->CheminZip, Installation() + "/Kestrova.zip");
    EXPECT_EQ(form->UrlPageVersion, "http://release.example.invalid/kestrova/update.html");
    EXPECT_EQ(form->UrlZip, "http://release.example.invalid/rv/Kestrova.zip");
    EXPECT_EQ(form->DateWeb, 0);
}

TEST_F(Window, TheInstalledProgramAsksTheConfiguredReleaseServer) {
    EXPECT_STREQ(updater::TUpdaterPlace{}.ReleaseHost.c_str(), updater::kReleaseHost);
    EXPECT_EQ(updater::TUpdaterPlace::Installed().Folder.back(), '/');
}

TEST_F(Window, SetsUpItsHttpClientAndArchiver) {
    EXPECT_EQ(form->IdHTTP1->Request.Accept, "text/html, */*");
    EXPECT_EQ(form->IdHTTP1->Request.UserAgent, "Mozilla/3.0 (compatible; Indy Library)");
    EXPECT_EQ(form->IdHTTP1->Request.ContentType, "text/html");
    EXPECT_FALSE(form->IdHTTP1->HandleRedirects);
    EXPECT_TRUE(form->IdHTTP1->AllowCookies);
    EXPECT_GT(form->IdHTTP1->ReadTimeout, 0); // a stalled download must end
    EXPECT_TRUE(form->IdAntiFreeze1->Active());

    zip::TZipArchiver& a = *form->ZipArchiver1;
    EXPECT_EQ(a.Name(), "ZipArchiver1");
    EXPECT_FALSE(a.ExtractCorruptedFiles);
    EXPECT_EQ(a.CompressionLevel(), zip::clFastest);
    EXPECT_EQ(a.CompressionMode(), 1);
    EXPECT_EQ(a.SpanningMode(), zip::smNone);
    EXPECT_TRUE(a.SpanningOptions().AdvancedNaming);
    EXPECT_EQ(a.SpanningOptions().VolumeSize, zip::vsAutoDetect);
    EXPECT_TRUE(a.Options().FlushBuffers);
    EXPECT_TRUE(a.Options().OEMFileNames);
    EXPECT_EQ(a.Options().OverwriteMode, zip::omAlways);
    EXPECT_TRUE(a.Options().CreateDirs);
    EXPECT_TRUE(a.Options().ReplaceReadOnly);
    EXPECT_TRUE(a.Options().SetAttributes);
    EXPECT_FALSE(a.InMemory());
    EXPECT_EQ(a.Zip64Mode(), zip::zmDisabled);
    EXPECT_TRUE(a.Password.empty());
    EXPECT_TRUE(static_cast<bool>(a.OnFileProgress));
}

TEST_F(Window, QuitterEndsTheProgram) {
    form->BitBtn2->Click();
    EXPECT_TRUE(app->Terminated());
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(Window, TheExtractionProgressMovesTheBarWithinTheDownloadMaximum) {
    form->ProgressBar->SetMax(5000);
    bool cancel = false;
    form->ZipArchiver1FileProgress(form->ZipArchiver1, "a.txt", 42.9, zip::poExtract,
                                   zip::ppProcess, cancel);
    EXPECT_EQ(form->ProgressBar->Position(), 42);
    EXPECT_EQ(form->ProgressBar->Max(), 5000);
}

} // namespace
