#include "vswitch_fixture.h"
namespace VsTest {
TEST_F(SwitchTest, Smoke) {
    Info()->AddVirtualSwitch("vs1", 0);
    auto sw = Switch("vs1");
    sw->AddUplink("pnx0", true);
    sw->AddUplink("pnx3", true);
    sw->AddPortGroup("pg1");
    Pg("vs1", "pg1")->SetVlanId(100);
    std::cout << SwitchData("vs1") << "\n";
    sw->SetOverlayForIndex(2, "ov");
    Pg("vs1", "pg1")->SetFenceId(7);
    std::cout << SwitchData("vs1") << "\n";
    TarnSim::Profile::Reboot();
    std::cout << SwitchData("vs1") << "\n";
    EXPECT_EQ(100u, Pg("vs1", "pg1")->GetVlanId());
    EXPECT_EQ("ov", Switch("vs1")->GetOverlayForIndex(2));
}
}
