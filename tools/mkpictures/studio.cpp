#include "pictures.h"

bool openStudio(Studio& st, const std::string& contentDir, const std::string& fontDir) {
    return loadFont(st.sans, fontDir + "/DejaVuSans.ttf") &&
           loadFont(st.sansBold, fontDir + "/DejaVuSans-Bold.ttf") &&
           loadFont(st.serif, fontDir + "/DejaVuSerif.ttf") &&
           loadFont(st.serifBold, fontDir + "/DejaVuSerif-Bold.ttf") &&
           loadFont(st.monoBold, fontDir + "/DejaVuSansMono-Bold.ttf") &&
           loadSettings(contentDir + "/pictures.txt", st.look) &&
           loadSettings(contentDir + "/credits.txt", st.credits);
}
