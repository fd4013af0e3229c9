#pragma once

#include <QByteArrayView>
#include <QtGlobal>

#include <array>

namespace peer {

// The Blowfish key schedule's result: the P-array and the four S-boxes. A plain value, all zero
// until a key is installed and again after reset(), so an ended chat leaves no key material in
// its record.
class BlowfishState
{
public:
    static constexpr int kPWords = 18;
    static constexpr int kSBoxes = 4;
    static constexpr int kSBoxWords = 256;

    BlowfishState() = default;
    BlowfishState(const BlowfishState&) = default;
    BlowfishState& operator=(const BlowfishState&) = default;
    ~BlowfishState();

    // Overwrites every word with zero in a way the compiler may not drop as a dead store.
    void reset();
    bool isZero() const;

    bool operator==(const BlowfishState& other) const
    {
        return m_p == other.m_p && m_s == other.m_s;
    }
    bool operator!=(const BlowfishState& other) const { return !(*this == other); }

private:
    friend bool BlowfishInit(BlowfishState&, QByteArrayView);
    friend void BlowfishEncrypt(const BlowfishState&, quint32&, quint32&);
    friend void BlowfishDecrypt(const BlowfishState&, quint32&, quint32&);

    std::array<quint32, kPWords> m_p{};
    std::array<std::array<quint32, kSBoxWords>, kSBoxes> m_s{};
};

// The published key schedule over `key` (taken cyclically, most significant byte first; bytes
// past the 72nd do not take part, as in every Blowfish implementation). An empty key has no
// schedule: the state is left zeroed and false returned.
bool BlowfishInit(BlowfishState& state, QByteArrayView key);

// One 64-bit block in place, as the two 32-bit halves of the published algorithm. How the halves
// are laid out in bytes is the caller's business.
void BlowfishEncrypt(const BlowfishState& state, quint32& left, quint32& right);
void BlowfishDecrypt(const BlowfishState& state, quint32& left, quint32& right);

} // namespace peer
