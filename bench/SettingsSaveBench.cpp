// One save of Kestrova's settings: the main window with every field filled in, Sauve timed
// on Qt's offscreen platform. Run it under `strace -f -c -e trace=fsync,rename,openat` to
// count the file operations of the saves as well.
//     bench_settings_save [saves]
#include "BenchSupport.h"
#include "ipwatch/Unit1.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    const int saves = argc > 1 ? std::atoi(argv[1]) : 50;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    char config[] = "/tmp/kestrova-bench-XXXXXX";
    if (!mkdtemp(config))
        return 1;
    setenv("XDG_CONFIG_HOME", config, 1);
    int rc = 0;
    {
        vcl::TApplication app(argc, argv);
        auto* form1 = app.CreateForm<ipwatch::TForm1>();
        for (vcl::TEdit* edit :
             {form1->user_name, form1->mot_de_passe, form1->Smtp_qv, form1->Email_v, form1->Email_D,
              form1->Sujet_qv, form1->Login_ip, form1->password_ip, form1->domaine_ip,
              form1->login_no, form1->password_no, form1->domaine_no, form1->ident_ovh,
              form1->passe_ovh, form1->domaine_ovh})
            edit->SetText(edit->Name() + "-value@example.org");
        form1->qv_url->SetText("http://hook.example.org/notify?from=kestrova");
        form1->Message_qv->Lines().Assign(
            std::vector<std::string>{"Bonjour,", "votre adresse a changé.", "à bientôt"});
        form1->SvgEditIni1->Sauve(); // the first save makes the file
        double best = bench::BestSeconds(saves, [&] { form1->SvgEditIni1->Sauve(); });
        std::printf("%-34s %8.3f ms per save (best of %d), file %ju bytes\n",
                    "settings save (main window)", best * 1e3, saves,
                    static_cast<std::uintmax_t>(
                        std::filesystem::file_size(std::string(config) + "/Kestrova/serie.ini")));
    }
    std::filesystem::remove_all(config);
    return rc;
}
