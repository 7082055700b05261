// Cody's error functions and the implied-volatility solver. Every polynomial
// is evaluated by Horner's rule from its highest power, with no fused
// operations; the coefficients are the published ones, digit for digit.
#include "lumenfold/core/options/iv_solver.hpp"

#include <cmath>
#include <cstddef>
#include <iterator>
#include <limits>

#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core::options {

namespace {

constexpr double kDblMin = 2.2250738585072014e-308;
constexpr double kEpsilon = 2.220446049250313e-16;
constexpr double kSqrtDblMax = 1.3407807929942596e154;
constexpr double kInf = std::numeric_limits<double>::infinity();

constexpr double kSqrtTwo = 1.4142135623730951;
constexpr double kOneOverSqrtTwo = 0.7071067811865475;
constexpr double kHalfOverSqrtTwo = 0.35355339059327373;
constexpr double kSqrtTwoPi = 2.5066282746310007;
constexpr double kOneOverSqrtTwoPi = 0.39894228040143265;
constexpr double kTwoOverSqrtTwoPi = 0.7978845608028653;
constexpr double kSqrtPiOverTwo = 1.2533141373155003;
constexpr double kLnTwoPi = 1.8378770664093456;
constexpr double kOneOverSqrtPi = 0.56418958354775628695;
constexpr double kTwoOverSqrtPi = 1.128379167095512573896;

constexpr double kTwoPiOverSqrt27 = 1.209199576156145233729385505094770488189377498728;
constexpr double kSqrtThree = 1.732050807568877293527446341505872366942805253810;
constexpr double kOneOverSqrtThree = 0.577350269189625764509148780501957455647601751270;
constexpr double kSqrtThreeOverCbrtTwoPi = 0.938643487427383566075051356115075878414688769574;
constexpr double kPiOverSix = 0.523598775598298873077107230546583814032861566563;

// Region boundaries of the normalised Black price: tau = 2 eps^(1/16).
constexpr double kTau = 0.21022410381342865;
constexpr double kTwoTau = 0.4204482076268573;
constexpr double kEta = -13.0;
constexpr double kTauPlusHalfPlusEta = -12.28977589618657;

// Range of the rational-cubic control parameter: -(1 - sqrt(eps)) and 2/eps^2.
constexpr double kMinControl = -0.9999999850988388;
constexpr double kMaxControl = 4.056481920730334e+31;

// Coefficients in ascending powers; evaluated from the top.
template <std::size_t N>
double poly(const double (&c)[N], double v) noexcept {
    double acc = c[N - 1];
    for (std::size_t i = N - 1; i-- > 0;) acc = acc * v + c[i];
    return acc;
}

double square(double v) noexcept { return v * v; }

// ---- Cody's three sets

constexpr double kCody1Num[] = {3209.37758913846947, 377.485237685302021, 113.864154151050156,
                                3.1611237438705656, 0.185777706184603153};
constexpr double kCody1Den[] = {2844.23683343917062, 1282.61652607737228, 244.024637934444173,
                                23.6012909523441209, 1};
constexpr double kCody2Num[] = {1230.33935479799725, 2051.07837782607147, 1712.04761263407058,
                                881.95222124176909,  298.635138197400131, 66.1191906371416295,
                                8.88314979438837594, 0.564188496988670089, 2.15311535474403846e-8};
constexpr double kCody2Den[] = {1230.33935480374942, 3439.36767414372164, 4362.61909014324716,
                                3290.79923573345963, 1621.38957456669019, 537.181101862009858,
                                117.693950891312499, 15.7449261107098347, 1};
constexpr double kCody3Num[] = {6.58749161529837803e-4, 0.0160837851487422766, 0.125781726111229246,
                                0.360344899949804439,   0.305326634961232344,  0.0163153871373020978};
constexpr double kCody3Den[] = {0.00233520497626869185, 0.0605183413124413191, 0.527905102951428412,
                                1.87295284992346047,    2.56852019228982242,   1};

constexpr double kCodySmall = 0.46875;

// erf(x) for |x| <= 0.46875.
double cody_erf_small(double x) noexcept {
    const double z = x * x;
    return x * poly(kCody1Num, z) / poly(kCody1Den, z);
}

// erfcx(y) for y > 0.46875.
double cody_erfcx_large(double y) noexcept {
    if (y <= 4) return poly(kCody2Num, y) / poly(kCody2Den, y);
    const double z = 1 / (y * y);
    return (kOneOverSqrtPi - z * poly(kCody3Num, z) / poly(kCody3Den, z)) / y;
}

// ---- the inverse normal distribution function

constexpr double kInvCentralMax = 0.3413447460685429;  // Phi(1) - 1/2
constexpr double kInvCentralMaxSq = 0.11651623566859805;
constexpr double kInvCentralNum[] = {2.92958954698308805,  5.0260572167303103E1,  3.01870541922933937E2,
                                     7.4997781456657924E2, 6.90489242061408612E2, 1.34233243502653864E2,
                                     -7.58939881401259242};
constexpr double kInvCentralDen[] = {1, 1.8918538074574598E1, 1.29404120448755281E2, 3.86821208540417453E2,
                                     4.79123914509756757E2, 1.79227008508102628E2};

struct TailRational {
    double upper;  // r below this uses these coefficients
    double num[6];
    double den[6];
};

constexpr TailRational kInvTails[] = {
    {2.05,
     {3.691562302945566191, 4.7170590600740689449E1, 6.5451292110261454609E1, -7.4594687726045926821E1,
      -8.3383894003636969722E1, -1.3054072340494093704E1},
     {1, 2.0837211328697753726E1, 7.1813812182579255459E1, 5.9270122556046077717E1, 9.2216887978737432303,
      1.8295174852053530579E-4}},
    {3.41,
     {3.2340179116317970288, 1.449177828689122096E1, 6.8397370256591532878E-1, -1.81254427791789183E1,
      -1.005916339568646151E1, -1.2013147879435525574E0},
     {1, 8.8820931773304337525, 1.4656370665176799712E1, 7.1369811056109768745, 8.4884892199149255469E-1,
      1.0957576098829595323E-5}},
    {6.7,
     {3.1252235780087584807, 9.9483724317036560676, -5.1633929115525534628, -1.1070534689309368061E1,
      -2.8699061335882526744, -1.5414319494013597492E-1},
     {1, 7.076769154309171622, 8.1086341122361532407, 2.0307076064309043613, 1.0897972234131828901E-1,
      1.3565983564441297634E-7}},
    {12.9,
     {2.6161264950897283681, 2.250881388987032271, -3.688196041019692267, -2.9644251353150605663,
      -4.7595169546783216436E-1, -1.612303318390145052E-2},
     {1, 3.2517455169035921495, 2.1282030272153188194, 3.3663746405626400164E-1, 1.1400087282177594359E-2,
      3.0848093570966787291E-9}},
    {kInf,
     {2.3226849047872302955, -4.2799650734502094297E-2, -2.5894451568465728432, -8.6385181219213758847E-1,
      -6.5127593753781672404E-2, -1.0566357727202585402E-3},
     {1, 1.9361316119254412206, 6.1320841329197493341E-1, 4.6054974512474443189E-2, 7.471447992167225483E-4,
      2.3135343206304887818E-11}},
};

// Phi^-1(p) of a lower-tail probability p < 0.15866 from r = sqrt(-ln p).
double inverse_norm_cdf_tail(double r) noexcept {
    std::size_t i = 0;
    while (i + 1 < std::size(kInvTails) && !(r < kInvTails[i].upper)) ++i;
    return poly(kInvTails[i].num, r) / poly(kInvTails[i].den, r);
}

// ---- 1 - erfcx(y) for y = sqrt(-x) >= 0, and 1 + erfcx(y) beside it

constexpr double kOmeNum[] = {1.0000000000000002, 1.1514967181784756, 5.7689001208873741E-1,
                              1.4069188744609651E-1, 1.4069285713634565E-2};
constexpr double kOmeDen[] = {1, 1.9037494962421563, 1.5089908593742723, 6.2486081658640257E-1,
                              1.358008134514386E-1, 1.2463320728346347E-2};

struct ErfcxPair {
    double one_minus;
    double one_plus;
};

ErfcxPair one_minus_and_plus_erfcx(double y) noexcept {
    if (y <= 1.0 / 3.0) {
        const double ome = y * (kTwoOverSqrtPi - y * poly(kOmeNum, y) / poly(kOmeDen, y));
        return {ome, 2 - ome};
    }
    const double e = erfcx_cody(y);
    return {1 - e, 1 + e};
}

// ---- b_l / b_max and b_u / b_max as functions of s_c = sqrt(2|x|)

struct Rational66 {
    double num[7];
    double den[7];
};

constexpr double kLowerFitIG_Num[] = {8.0741072372882856924E-2, 9.8078911786358897272E-2, 3.9760631445677058375E-2,
                                      5.9716928459589189876E-3, -6.4036399341479799981E-6, 4.5425102093616062245E-7};
constexpr double kLowerFitIG_Den[] = {1, 1.8594977672287664353, 1.3658801475711790419, 4.6132707108655653215E-1,
                                      6.1254597049831720643E-2};
constexpr Rational66 kLowerFit[] = {
    {{1.9795737927598581235E-9, -2.7081288564685588037E-8, 7.5610142272549044609E-2, 6.917130174466834016E-2,
      2.9537058950963019803E-2, 6.5849252702302307774E-3, 6.9711400639834715731E-4},
     {1, 2.1941448525586579756, 2.1297103549995181357, 1.1571483187179784072, 3.7831622253060456794E-1,
      7.1714862448829349869E-2, 6.6361975827861200167E-3}},
    {{-9.3325115354837883291E-5, 5.3118033972794648837E-4, 7.4114855448345002595E-2, 7.4039658186822817454E-2,
      3.9225177407687604785E-2, 1.0022913378254090083E-2, 1.7012579407246055469E-3},
     {1, 2.2217238132228132256, 2.3441816707087403282, 1.3912323646271141826, 5.3231258443501838354E-1,
      1.1744005919716101572E-1, 1.6195405895930935811E-2}},
    {{1.4500072297240603183E-3, -1.5116692485011195757E-3, 7.1682178310936334831E-2, 3.921610857820463493E-2,
      2.9342405658628443931E-2, 5.1832526171631521426E-3, 1.6930208078421474854E-3},
     {1, 1.6176313502305414664, 1.6823159175281531664, 8.4878307567372222113E-1, 3.7543742137375791321E-1,
      7.126137099644302999E-2, 1.6116992546788676159E-2}},
};

double b_l_over_b_max(double s_c) noexcept {
    if (s_c < 0.7099295739719539) {
        const double g = poly(kLowerFitIG_Num, s_c) / poly(kLowerFitIG_Den, s_c);
        return s_c * s_c * (0.07560996640296361767172 + s_c * (-0.09672719281339436290858 + s_c * g));
    }
    const Rational66& f = s_c < 2.6267851073127395 ? kLowerFit[0] : s_c < 7.348469228349534 ? kLowerFit[1] : kLowerFit[2];
    return poly(f.num, s_c) / poly(f.den, s_c);
}

constexpr double kUpperFitIG_Num[] = {-6.063099881233561706E-2, -8.1011946637120604985E-2, -4.2505564862438753828E-2,
                                      -8.9880000946868691788E-3, -7.5603072110443268356E-6, 4.3879556621540147458E-7};
constexpr double kUpperFitIG_Den[] = {1, 1.8400371530721828756, 1.5709283443886143691, 6.8913245453611400484E-1,
                                      1.4703173061720980923E-1};
constexpr double kUpperFitII_Num[] = {7.8990944435755287611E-1, -1.2655410534988972886, -2.8803040699221003256,
                                      -2.6936198689113258727, -1.1213067281643205754, -2.1277793801691629892E-1,
                                      5.1486445905299802703E-6};
constexpr double kUpperFitII_Den[] = {1, -1.6021222722060444448, -3.7242680976480704555, -3.2083117718907365085,
                                      -1.2922333835930958583, -2.3762328334050001161E-1};
constexpr Rational66 kUpperFit[] = {
    {{7.8990640048967596475E-1, 1.5993699253596663678, 1.6481729039140370242, 9.8227188109869200166E-1,
      3.6313557966186936883E-1, 7.8277036261179606301E-2, 9.3404307364538726214E-3},
     {1, 2.0247407005640401446, 2.0087454279103740489, 1.1627561803056961973, 4.2004672123723823581E-1,
      8.9130862793887234546E-2, 1.0436767768858021717E-2}},
    {{7.91133825948419359E-1, 1.24653733210880042, 1.32747426980537386, 6.95009705717846778E-1,
      3.05965944268228457E-1, 6.02200363391352887E-2, 1.29050244454344842E-2},
     {1, 1.58117486714634672, 1.60144713247629644, 8.30040185836882436E-1, 3.53071863813401531E-1,
      6.95901684131758475E-2, 1.44197580643890011E-2}},
};

double b_u_over_b_max(double s_c) noexcept {
    if (s_c < 0.7745966692414833) {
        const double g = poly(kUpperFitIG_Num, s_c) / poly(kUpperFitIG_Den, s_c);
        return 0.7899085945560627246288 + s_c * s_c * (0.0614616805805147403487 + s_c * g);
    }
    if (s_c < 1.7888543819998317) return poly(kUpperFitII_Num, s_c) / poly(kUpperFitII_Den, s_c);
    const Rational66& f = s_c < 6.164414002968976 ? kUpperFit[0] : kUpperFit[1];
    return poly(f.num, s_c) / poly(f.den, s_c);
}

// ---- coefficient a = 1 + h Y(h), Y = Phi/phi, of the small-t expansion

constexpr double kSmallTA_Num[] = {-2.9999999999994663866, -1.7556263323542206288E2, -3.4735035445495633334E3,
                                   -2.7805745693864308643E4, -8.3836021460741980839E4, -6.6818249032616849037E4};
constexpr double kSmallTA_Den[] = {1, 6.3520877744831739102E1, 1.4404389037604337538E3, 1.4562545638507033944E4,
                                   6.6886794165651675684E4, 1.2569970380923908488E5, 6.9286518679803751694E4};
constexpr double kSmallTB_Num[] = {1.0000000000594317229, -6.1911449879694112749E-1, 2.2180844736576013957E-1,
                                   -4.5650900351352987865E-2, 5.545521007735379052E-3, -3.0717392274913902347E-4,
                                   4.2766597835908713583E-8, 8.4592436406580605619E-10};
constexpr double kSmallTB_Den[] = {1, -1.8724286369589162071, 1.5685497236077651429, -7.6576489836589035112E-1,
                                   2.3677701403094640361E-1, -4.6762548903194957675E-2, 5.5290453576936595892E-3,
                                   -3.0822020417927147113E-4};

// ---- terms of the asymptotic series, A_k(e) with k + 1 coefficients

constexpr double kAsymptotic[17][17] = {
    {2},
    {-6, -2},
    {30, 60, 6},
    {-2.1E2, -1.05E3, -6.3E2, -30},
    {1.89E3, 1.764E4, 2.646E4, 7.56E3, 2.1E2},
    {-2.079E4, -3.1185E5, -8.7318E5, -6.237E5, -1.0395E5, -1.89E3},
    {2.7027E5, 5.94594E6, 2.675673E7, 3.567564E7, 1.486485E7, 1.62162E6, 2.079E4},
    {-4.05405E6, -1.2297285E8, -8.1162081E8, -1.73918745E9, -1.35270135E9, -3.6891855E8, -2.837835E7, -2.7027E5},
    {6.891885E7, 2.756754E9, 2.50864614E10, 7.88431644E10, 9.85539555E10, 5.01729228E10, 9.648639E9, 5.513508E8,
     4.05405E6},
    {-1.30945815E9, -6.678236565E10, -8.013883878E11, -3.4726830138E12, -6.3665855253E12, -5.2090245207E12,
     -1.8699062382E12, -2.671294626E11, -1.178512335E10, -6.891885E7},
    {2.749862115E10, 1.7415793395E12, 2.664616389435E13, 1.52263793682E14, 3.848890340295E14, 4.618668408354E14,
     2.664616389435E14, 7.10564370516E13, 7.83710702775E12, 2.749862115E11, 1.30945815E9},
    {-6.3246828645E11, -4.870005805665E13, -9.2530110307635E14, -6.74147946527055E15, -2.24715982175685E16,
     -3.71802806872497E16, -3.14602375045959E16, -1.34829589305411E16, -2.77590330922905E15, -2.4350029028325E14,
     -6.95715115095E12, -2.749862115E10},
    {1.581170716125E13, 1.454677058835E15, 3.36030400590885E16, 3.04027505296515E17, 1.29211689751018875E18,
     2.81916414002223E18, 3.289024830025935E18, 2.067387036016302E18, 6.8406188691715875E17, 1.12010133530295E17,
     8.0007238235925E15, 1.89740485935E14, 6.3246828645E11},
    {-4.2691609335375E14, -4.624924344665625E16, -1.2764791191277125E18, -1.40412703104048375E19,
     -7.41067044160255312E19, -2.06151377739125569E20, -3.17155965752500875E20, -2.74868503652167425E20,
     -1.33392067948845956E20, -3.51031757760120938E19, -4.6804234368016125E18, -2.774954606799375E17,
     -5.54990921359875E15, -1.581170716125E13},
    {1.238056670725875E16, 1.5599514051146025E18, 5.06984206662245812E19, 6.66322100184665925E20,
     4.27556680951827302E21, 1.47701398874267613E22, 2.89721974714909549E22, 3.31110828245610914E22,
     2.2155209831140142E22, 8.55113361903654604E21, 1.83238577550783129E21, 2.02793682664898325E20,
     1.01396841332449162E19, 1.733279339016225E17, 4.2691609335375E14},
    {-3.8379756792502125E17, -5.56506473491280812E19, -2.10359446979704147E21, -3.25556286992399275E22,
     -2.49593153360839444E23, -1.04829124411552567E24, -2.55352995361474201E24, -3.72085793241005264E24,
     -3.28310994036181115E24, -1.74715207352587611E24, -5.49104937393846778E23, -9.76668860977197826E22,
     -9.11557603578717971E21, -3.89554531443896569E20, -5.75696351887531875E18, -1.238056670725875E16},
    {1.26653197415257012E19, 2.09399953059891594E21, 9.10889795810528434E22, 1.63960163245895118E24,
     1.48019591819210871E25, 7.42789224401858187E25, 2.19979885688242617E26, 3.98058840769200926E26,
     4.47816195865351041E26, 3.1425697955463231E26, 1.36178024473674001E26, 3.55247020366106089E25,
     5.32870530549159134E24, 4.25081904711579936E23, 1.57049964794918696E22, 2.0264511586441122E20,
     3.8379756792502125E17},
};

// One order of the series is dropped at each threshold that eta reaches.
constexpr double kAsymptoticThresholds[] = {12.347, 12.958, 13.729, 14.718, 16.016, 17.769,
                                            20.221, 23.816, 29.419, 38.93,  57.171, 99.347};

// A_k(e) by Horner's rule over its k + 1 coefficients.
double asymptotic_term(int k, double e) noexcept {
    const double* c = kAsymptotic[k];
    double acc = c[k];
    for (int i = k; i-- > 0;) acc = acc * e + c[i];
    return acc;
}

// ---- rational-cubic interpolation with a shape-preserving control parameter

bool is_zero(double v) noexcept { return std::fabs(v) < kDblMin; }

double rational_cubic_interpolation(double x, double x_l, double x_r, double y_l, double y_r, double d_l,
                                    double d_r, double r) noexcept {
    const double h = x_r - x_l;
    if (std::fabs(h) <= 0) return (y_l + y_r) / 2;
    const double u = (x - x_l) / h;
    const double v = 1 - u;
    if (r >= kMaxControl) return y_r * u + y_l * v;
    const double u2 = u * u, v2 = v * v;
    return (y_l * v2 * v + (r * y_l + h * d_l) * u * v2 + (r * y_r - h * d_r) * u2 * v + y_r * u2 * u) /
           (1 + (r - 3) * u * v);
}

// The control parameter that makes the interpolant's second derivative at
// one end equal `second`, given the fit's numerator and denominator there.
double control_to_fit(double numerator, double denominator) noexcept {
    if (is_zero(numerator)) return 0;
    if (is_zero(denominator)) return numerator > 0 ? kMaxControl : kMinControl;
    return numerator / denominator;
}

// The smallest control parameter that keeps the interpolant monotone,
// convex or concave where the end slopes and the secant slope allow it.
double minimum_control(double d_l, double d_r, double delta, bool prefer_shape) noexcept {
    const bool monotone = d_l * delta >= 0 && d_r * delta >= 0;
    const bool convex = d_l <= delta && delta <= d_r;
    const bool concave = d_l >= delta && delta >= d_r;
    if (!monotone && !convex && !concave) return kMinControl;
    const double d_r_m_d_l = d_r - d_l, d_r_m_delta = d_r - delta, delta_m_d_l = delta - d_l;
    double r1 = -kMaxF64, r2 = -kMaxF64;
    if (monotone) {
        if (!is_zero(delta))
            r1 = (d_r + d_l) / delta;
        else if (prefer_shape)
            r1 = kMaxControl;
    }
    if (convex || concave) {
        if (!(is_zero(delta_m_d_l) || is_zero(d_r_m_delta)))
            r2 = std::fmax(std::fabs(d_r_m_d_l / d_r_m_delta), std::fabs(d_r_m_d_l / delta_m_d_l));
        else if (prefer_shape)
            r2 = kMaxControl;
    } else if (monotone && prefer_shape) {
        r2 = kMaxControl;
    }
    return std::fmax(kMinControl, std::fmax(r1, r2));
}

double control_fitting_left(double x_l, double x_r, double y_l, double y_r, double d_l, double d_r,
                            double second_l, bool prefer_shape) noexcept {
    const double h = x_r - x_l, delta = (y_r - y_l) / h;
    const double fit = control_to_fit(h / 2 * second_l + (d_r - d_l), delta - d_l);
    return std::fmax(fit, minimum_control(d_l, d_r, delta, prefer_shape));
}

double control_fitting_right(double x_l, double x_r, double y_l, double y_r, double d_l, double d_r,
                             double second_r, bool prefer_shape) noexcept {
    const double h = x_r - x_l, delta = (y_r - y_l) / h;
    const double fit = control_to_fit(h / 2 * second_r + (d_r - d_l), d_r - delta);
    return std::fmax(fit, minimum_control(d_l, d_r, delta, prefer_shape));
}

// ---- the lower and upper maps of the outer branches

struct MapPoint {
    double f, fp, fpp;  // the map and its first two derivatives in beta
};

MapPoint lower_map(double x, double s) noexcept {
    const double ax = std::fabs(x), z = kOneOverSqrtThree * ax / s, y = z * z, s2 = s * s;
    const double phi_m = erfc_cody(z * kOneOverSqrtTwo) / 2;
    const double phi_z = kOneOverSqrtTwoPi * std::exp(-(z * z) / 2);
    const double phi_m2 = phi_m * phi_m;
    MapPoint m;
    m.f = kTwoPiOverSqrt27 * ax * (phi_m2 * phi_m);
    m.fp = kTwoPi * y * phi_m2 * std::exp(y + s2 / 8);
    m.fpp = kPiOverSix * (y / (s2 * s)) * phi_m *
            (8 * kSqrtThree * s * ax + (3 * s2 * (s2 - 8) - 8 * (x * x)) * phi_m / phi_z) * std::exp(2 * y + s2 / 4);
    return m;
}

double inverse_lower_map(double x, double f) noexcept {
    // The two cube roots are taken apart: their quotient in one root underflows.
    return std::fabs(x / (kSqrtThree * inverse_norm_cdf(kSqrtThreeOverCbrtTwoPi * std::cbrt(f) / std::cbrt(std::fabs(x)))));
}

MapPoint upper_map(double x, double s) noexcept {
    const double w = square(x / s);
    return {erfc_cody(s * kHalfOverSqrtTwo) / 2, -std::exp(w / 2) / 2, kSqrtPiOverTwo * std::exp(w + s * s / 8) * w / s};
}

// ---- the normalised Black price by region

// b(x, s) by region. The two expansions give the scaled price b/b' and the
// price follows as scaled * b'; the third region gives the price itself.
struct BlackPrice {
    double b;
    double scaled;  // b/b', NaN when b came from the error functions
};

double vega_factor(double h, double t) noexcept { return kOneOverSqrtTwoPi * std::exp(-(h * h + t * t) / 2); }

BlackPrice normalised_black_by_region(double x, double s) noexcept {
    const double h = x / s, t = s / 2;
    if (x < kEta * s && x + s * (s / 2 - kTauPlusHalfPlusEta) < 0) {
        const double scaled = asymptotic_expansion_of_scaled_normalised_black(h, t);
        return {vega_factor(h, t) * scaled, scaled};
    }
    if (s * (s - kTwoTau) < x / kEta) {
        const double scaled = small_t_expansion_of_scaled_normalised_black(h, t);
        return {vega_factor(h, t) * scaled, scaled};
    }
    return {normalised_black_with_optimal_use_of_codys_functions(x, s), kNaN};
}

double inverse_vega(double x, double s) noexcept {
    return kSqrtTwoPi * std::exp((square(x / s) + square(s / 2)) / 2);
}

// ---- Householder steps and the bracket

double householder3_step(double nu, double h2, double h3) noexcept {
    return nu * (1 + nu * h2 / 2) / (1 + nu * (h2 + nu * h3 / 6));
}

double householder4_step(double nu, double h2, double h3, double h4) noexcept {
    return nu * (1 + nu * (h2 + nu * h3 / 6)) / (1 + nu * (1.5 * h2 + nu * (h2 * h2 / 4 + h3 / 3 + nu * h4 / 24)));
}

// s + ds clamped into [lo, hi]; a step that is not a number leaves s as it is.
double take_step(double lo, double hi, double s, double ds) noexcept {
    const double next = s + ds;
    if (next < lo) return lo;
    if (next > hi) return hi;
    return std::isnan(next) ? s : next;
}

// Narrows [lo, hi] around the solution: `below` when the price at s is below
// the target, `above` when it is above it.
void narrow(double& lo, double& hi, double s, bool below, bool above) noexcept {
    if (above && s < hi)
        hi = s;
    else if (below && s > lo)
        lo = s;
}

// Derivative ratios of b in s: b''/b', b'''/b' and b''''/b'.
struct BlackRatios {
    double b2, b3, x2_s4;
    double b4(double s) const noexcept { return b2 * (b3 - 0.5) - (b2 - 2 / s) * 6 * x2_s4; }
};

BlackRatios black_ratios(double x, double s) noexcept {
    const double h = x / s, x2_s4 = square(h / s), b2 = h * h / s - s / 4;
    return {b2, b2 * b2 - 3 * x2_s4 - 0.25, x2_s4};
}

// Objective beta - b(x, s).
double iterate_plain(int n, double beta, double x, double s, double lo, double hi) noexcept {
    double ds = -kMaxF64;
    for (int i = 0; i < n; ++i) {
        if (std::fabs(ds) <= s * kEpsilon) break;
        const BlackPrice p = normalised_black_by_region(x, s);
        narrow(lo, hi, s, p.b < beta, p.b > beta);
        const double nu = (beta - p.b) * inverse_vega(x, s);
        const BlackRatios q = black_ratios(x, s);
        ds = householder3_step(nu, q.b2, q.b3);
        s = take_step(lo, hi, s, ds);
    }
    return s;
}

// Objective 1/ln b(x, s) - 1/ln beta, for prices far below the central point.
double iterate_lowest(int n, double beta, double x, double s, double lo, double hi) noexcept {
    const double ln_beta = std::log(beta);
    double ds = -kMaxF64;
    for (int i = 0; i < n; ++i) {
        if (std::fabs(ds) <= s * kEpsilon) break;
        // ln b = ln(b/b') + ln b', which stays finite where b underflows.
        const double h = x / s, t = s / 2;
        const double ln_vega = -kLnTwoPi / 2 - (h * h + t * t) / 2;
        const BlackPrice p = normalised_black_by_region(x, s);
        const double scaled = std::isnan(p.scaled) ? p.b * std::exp(-ln_vega) : p.scaled;
        const double ln_b = std::log(scaled) + ln_vega;
        narrow(lo, hi, s, ln_b < ln_beta, ln_b > ln_beta);
        const double rho = 1 / scaled;  // b'/b
        const double nu = (ln_beta - ln_b) * ln_b / ln_beta / rho;
        const double lambda = 1 / ln_b, otl = 1 + 2 * lambda;
        const BlackRatios q = black_ratios(x, s);
        const double h2 = q.b2 - rho * otl;
        const double h3 = q.b3 + rho * rho * (2 + 6 * lambda * (1 + lambda)) - 3 * q.b2 * rho * otl;
        if (x < -190) {
            const double h4 = q.b4(s) -
                              rho * (rho * rho * (6 + lambda * (22 + lambda * (36 + 24 * lambda))) -
                                     q.b2 * rho * (12 + 36 * lambda * (1 + lambda))) -
                              3 * q.b2 * q.b2 * rho * otl - 4 * q.b3 * rho * otl;
            ds = householder4_step(nu, h2, h3, h4);
        } else {
            ds = householder3_step(nu, h2, h3);
        }
        s = take_step(lo, hi, s, ds);
    }
    return s;
}

// Objective ln(b_max - beta) - ln(b_max - b(x, s)), for prices near the
// maximum; b_max - b is formed from erfcx without cancellation.
double iterate_highest(int n, double beta, double b_max, double x, double s, double lo, double hi) noexcept {
    const double ln_beta_bar = std::log(b_max - beta);
    double ds = -kMaxF64;
    for (int i = 0; i < n; ++i) {
        if (std::fabs(ds) <= s * kEpsilon) break;
        const double h = x / s, t = s / 2;
        const double e_sum = erfcx_cody((t + h) * kOneOverSqrtTwo) + erfcx_cody((t - h) * kOneOverSqrtTwo);
        const double ln_b_bar = std::log(e_sum / 2) - (h * h + t * t) / 2;
        narrow(lo, hi, s, ln_b_bar > ln_beta_bar, ln_b_bar < ln_beta_bar);
        const double gamma = kTwoOverSqrtTwoPi / e_sum;  // b' / (b_max - b)
        const double nu = -(ln_beta_bar - ln_b_bar) / gamma;
        const BlackRatios q = black_ratios(x, s);
        const double h2 = q.b2 + gamma;
        const double h3 = q.b3 + gamma * (2 * gamma + 3 * q.b2);
        if (x < -580) {
            const double h4 = q.b4(s) + gamma * (6 * gamma * (gamma + 2 * q.b2) + 3 * q.b2 * q.b2 + 4 * q.b3);
            ds = householder4_step(nu, h2, h3, h4);
        } else {
            ds = householder3_step(nu, h2, h3);
        }
        s = take_step(lo, hi, s, ds);
    }
    return s;
}

// s = -2 Phi^-1((1 - beta)/2) at the money, without forming 1 - beta in the
// central form.
double at_the_money(double beta) noexcept {
    if (beta <= 2 * kInvCentralMax) {
        const double r = kInvCentralMaxSq - square(beta / 2);
        return beta * poly(kInvCentralNum, r) / poly(kInvCentralDen, r);
    }
    return -2 * inverse_norm_cdf_tail(std::sqrt(-std::log((1 - beta) / 2)));
}

}  // namespace

double erfc_cody(double x) noexcept {
    const double y = std::fabs(x);
    if (y <= kCodySmall) return 1 - cody_erf_small(x);
    if (y >= 26.543) return x < 0 ? 2 : 0;
    const double r = cody_erfcx_large(y);
    // exp(-y^2) in two pieces keeps its precision.
    const double ysq = std::trunc(16 * y) / 16, del = (y - ysq) * (y + ysq);
    const double result = std::exp(-ysq * ysq) * std::exp(-del) * r;
    return x < 0 ? 2 - result : result;
}

double erfcx_cody(double x) noexcept {
    const double y = std::fabs(x);
    if (y <= kCodySmall) return std::exp(x * x) * (1 - cody_erf_small(x));
    // Below this 2 exp(x^2) overflows.
    if (x < -26.6287357137514) return kMaxF64;
    const double r = cody_erfcx_large(y);
    if (x >= 0) return r;
    const double ysq = std::trunc(16 * x) / 16, del = (x - ysq) * (x + ysq);
    const double w = std::exp(ysq * ysq) * std::exp(del);
    return (w + w) - r;
}

double inverse_norm_cdf(double u) noexcept {
    if (u <= 0) return -kInf;
    if (u >= 1) return kInf;
    const double q = u - 0.5;
    if (std::fabs(q) < kInvCentralMax) {
        const double r = kInvCentralMaxSq - q * q;
        return q * poly(kInvCentralNum, r) / poly(kInvCentralDen, r);
    }
    const double v = inverse_norm_cdf_tail(std::sqrt(-std::log(q <= 0 ? u : 1 - u)));
    return q > 0 ? -v : v;
}

double normalised_black_with_optimal_use_of_codys_functions(double x, double s) noexcept {
    const double h = x / s, t = s / 2;
    const double q1 = -(h + t) * kOneOverSqrtTwo, q2 = -(h - t) * kOneOverSqrtTwo;
    double two_b;
    if (q1 < kCodySmall) {
        if (q2 < kCodySmall)
            two_b = std::exp(x / 2) * erfc_cody(q1) - std::exp(-x / 2) * erfc_cody(q2);
        else
            two_b = std::exp(x / 2) * erfc_cody(q1) - std::exp(-(h * h + t * t) / 2) * erfcx_cody(q2);
    } else if (q2 < kCodySmall) {
        two_b = std::exp(-(h * h + t * t) / 2) * erfcx_cody(q1) - std::exp(-x / 2) * erfc_cody(q2);
    } else {
        two_b = std::exp(-(h * h + t * t) / 2) * (erfcx_cody(q1) - erfcx_cody(q2));
    }
    return std::fmax(two_b / 2, 0.0);
}

double small_t_expansion_of_scaled_normalised_black(double h, double t) noexcept {
    double a;
    if (h < -4) {
        const double v = 1 / (h * h);
        a = v * (1 + v * poly(kSmallTA_Num, v) / poly(kSmallTA_Den, v));
    } else if (h <= -0.46875) {
        a = poly(kSmallTB_Num, h) / poly(kSmallTB_Den, h);
    } else {
        a = 1 + h * kSqrtPiOverTwo * erfcx_cody(-h * kOneOverSqrtTwo);
    }
    const double w = t * t, h2 = h * h;
    // B_k = (P_k(h2) + a Q_k(h2)) / divisor_k.
    constexpr double p1[] = {-1}, q1[] = {3, 1};
    constexpr double p2[] = {-7, -1}, q2[] = {15, 10, 1};
    constexpr double p3[] = {-57, -18, -1}, q3[] = {105, 105, 21, 1};
    constexpr double p4[] = {-561, -285, -33, -1}, q4[] = {945, 1260, 378, 36, 1};
    constexpr double p5[] = {-6555, -4680, -840, -52, -1}, q5[] = {10395, 17325, 6930, 990, 55, 1};
    constexpr double p6[] = {-89055, -82845, -20370, -1926, -75, -1};
    constexpr double q6[] = {135135, 270270, 135135, 25740, 2145, 78, 1};
    const double b1 = (poly(p1, h2) + a * poly(q1, h2)) / 3;
    const double b2 = (poly(p2, h2) + a * poly(q2, h2)) / 60;
    const double b3 = (poly(p3, h2) + a * poly(q3, h2)) / 2520;
    const double b4 = (poly(p4, h2) + a * poly(q4, h2)) / 181440;
    const double b5 = (poly(p5, h2) + a * poly(q5, h2)) / 19958400;
    const double b6 = (poly(p6, h2) + a * poly(q6, h2)) / 3113510400.0;
    return t * (2 * a + w * (b1 + w * (b2 + w * (b3 + w * (b4 + w * (b5 + w * b6))))));
}

double asymptotic_expansion_of_scaled_normalised_black(double h, double t) noexcept {
    const double e = square(t / h), r = (h + t) * (h - t), q = square(h / r);
    const double eta = ((-h - t) + kTau) + 0.5;
    int kept = 16;
    for (double threshold : kAsymptoticThresholds)
        if (threshold <= eta) --kept;
    double omega = asymptotic_term(kept, e);
    for (int k = kept; k-- > 0;) omega = omega * q + asymptotic_term(k, e);
    return t / r * omega;
}

double lets_be_rational(int n, double beta, double x) noexcept {
    if (beta <= 0) return beta == 0 ? 0 : kPriceBelowIntrinsic;
    const double b_max = std::exp(x / 2);
    if (beta >= b_max) return kPriceAboveMaximum;
    if (x == 0) return at_the_money(beta);

    const double sqrt_ax = std::sqrt(-x);
    const double s_c = sqrt_ax * kSqrtTwo;
    const ErfcxPair e = one_minus_and_plus_erfcx(sqrt_ax);
    const double b_c = b_max / 2 * e.one_minus;
    const double inv_v_c = kSqrtTwoPi / b_max;

    if (beta < b_c) {
        const double s_l = s_c - kSqrtPiOverTwo * e.one_minus;
        const double b_l = b_max * b_l_over_b_max(s_c);
        if (beta < b_l) {
            const MapPoint m = lower_map(x, s_l);
            const double r = control_fitting_right(0, b_l, 0, m.f, 1, m.fp, m.fpp, true);
            double f = rational_cubic_interpolation(beta, 0, b_l, 0, m.f, 1, m.fp, r);
            if (!(f > 0)) {
                const double tau = beta / b_l;
                f = (m.f * tau + b_l * (1 - tau)) * tau;
            }
            return iterate_lowest(n, beta, x, inverse_lower_map(x, f), kDblMin, s_l);
        }
        const double inv_v_l = inverse_vega(x, s_l);
        const double r = control_fitting_right(b_l, b_c, s_l, s_c, inv_v_l, inv_v_c, 0.0, false);
        const double s = rational_cubic_interpolation(beta, b_l, b_c, s_l, s_c, inv_v_l, inv_v_c, r);
        return iterate_plain(n, beta, x, s, s_l, s_c);
    }

    const double s_u = s_c + kSqrtPiOverTwo * e.one_plus;
    const double b_u = b_max * b_u_over_b_max(s_c);
    if (beta <= b_u) {
        const double inv_v_u = inverse_vega(x, s_u);
        const double r = control_fitting_left(b_c, b_u, s_c, s_u, inv_v_c, inv_v_u, 0.0, false);
        const double s = rational_cubic_interpolation(beta, b_c, b_u, s_c, s_u, inv_v_c, inv_v_u, r);
        return iterate_plain(n, beta, x, s, s_c, s_u);
    }
    const MapPoint m = upper_map(x, s_u);
    double f = -kMaxF64;
    if (std::fabs(m.fpp) < kSqrtDblMax) {
        const double r = control_fitting_left(b_u, b_max, m.f, 0, m.fp, -0.5, m.fpp, true);
        f = rational_cubic_interpolation(beta, b_u, b_max, m.f, 0, m.fp, -0.5, r);
    }
    if (!(f > 0)) {
        const double span = b_max - b_u, tau = (beta - b_u) / span;
        f = (m.f * (1 - tau) + span / 2 * tau) * (1 - tau);
    }
    const double s = -2 * inverse_norm_cdf(f);
    if (beta > b_max / 2) return iterate_highest(n, beta, b_max, x, s, s_u, kMaxF64);
    return iterate_plain(n, beta, x, s, s_u, kMaxF64);
}

double implied_black_volatility(double price, double f, double k, double t, double q) noexcept {
    const double max_price = q < 0 ? k : f;
    if (price >= max_price) return kPriceAboveMaximum;
    // An in-the-money price becomes the out-of-the-money price of the other
    // side by put-call parity; every case is then an out-of-the-money call.
    const double intrinsic = q < 0 ? k - f : f - k;
    const double beta = (intrinsic > 0 ? price - intrinsic : price) / (std::sqrt(f) * std::sqrt(k));
    const double x = -std::fabs(std::log(f / k));
    const double v = lets_be_rational(2, beta, x);
    if (v == kPriceAboveMaximum || v == kPriceBelowIntrinsic) return v;
    return v / std::sqrt(t);
}

std::optional<double> implied_vol(double market_price, double s, double k, double r, double t, bool is_call) noexcept {
    const double q = is_call ? 1.0 : -1.0;
    if (t <= 0) return std::nullopt;
    const double d = std::exp(r * t);
    const double sigma = implied_black_volatility(market_price * d, s * d, k, t, q);
    if (std::fabs(sigma) >= kMaxF64) return std::nullopt;
    return sigma;
}

}  // namespace lumenfold::core::options
