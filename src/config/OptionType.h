#pragma once

#include "base/Exceptions.h"
#include "base/ResourceBundle.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <span>

namespace tavlo::config {

// Common part of every option constant: its name (the stored form), its position and its label.
// Constants are constant-initialised singletons; their labels are read from the option text table
// once, the first time the type needs one, and never change afterwards.
class OptionConstant {
public:
    constexpr OptionConstant(int ordinal, const char* name, const char* labelKey, const char* labelText)
        : m_ordinal(ordinal), m_name(name), m_labelKey(labelKey), m_labelText(labelText) {}
    OptionConstant(const OptionConstant&) = delete;
    OptionConstant& operator=(const OptionConstant&) = delete;

    int ordinal() const { return m_ordinal; }
    QString name() const { return QString::fromLatin1(m_name); }
    const char* nameLatin1() const { return m_name; }
    const char* labelKey() const { return m_labelKey; }
    const char* labelText() const { return m_labelText; }

private:
    int m_ordinal;
    const char* m_name;
    const char* m_labelKey;  // key in "tavlo.config.ConfigBundle", or null
    const char* m_labelText; // fixed label, or null (then the label is the name)
};

// The class-level operations shared by all option types. T derives from OptionType<T> and provides
// `static std::span<const T* const> constants()` in declaration order.
template <typename T> class OptionType : public OptionConstant {
public:
    using OptionConstant::OptionConstant;

    // A fresh copy of the constant list, in declaration order.
    static QList<const T*> values() {
        const auto list = T::constants();
        return QList<const T*>(list.begin(), list.end());
    }

    // The constant with exactly that name; IllegalArgumentException for an unknown name.
    static const T* valueOf(const QString& name) {
        if (const T* c = find(name))
            return c;
        throw base::IllegalArgumentException(
            QStringLiteral("No enum constant %1.%2").arg(QLatin1String(T::typeName()), name));
    }

    static const T* find(const QString& name) {
        for (const T* c : T::constants())
            if (name == QLatin1String(c->nameLatin1()))
                return c;
        return nullptr;
    }

    // Exactly the names of the constants, case and all; nothing is trimmed or folded.
    static bool valid(const QString& name) { return find(name) != nullptr; }

    static const T* fromOrdinal(int ordinal) {
        const auto list = T::constants();
        if (ordinal < 0 || ordinal >= static_cast<int>(list.size()))
            return nullptr;
        return list[static_cast<size_t>(ordinal)];
    }

    QString display() const { return labels()[ordinal()]; }
    QString toString() const { return display(); }

    // All labels of the type; loading them fails with MissingResourceException when a key is absent.
    static const QStringList& labels() {
        static const QStringList loaded = loadLabels();
        return loaded;
    }

private:
    static QStringList loadLabels() {
        QStringList out;
        for (const T* c : T::constants()) {
            if (c->labelKey())
                out.append(base::ResourceBundle::getBundle(QStringLiteral("tavlo.config.ConfigBundle"))
                               .getString(QLatin1String(c->labelKey())));
            else if (c->labelText())
                out.append(QString::fromUtf8(c->labelText()));
            else
                out.append(c->name());
        }
        return out;
    }
};

// Index options are stored as the 0-based position of the chosen constant.
template <typename T> class IndexOptionType : public OptionType<T> {
public:
    using OptionType<T>::OptionType;

    static bool valid(int index) { return index >= 0 && index < static_cast<int>(T::constants().size()); }

    // The label of the constant at that position; the empty text when out of range.
    static QString getReadable(int index) { return valid(index) ? OptionType<T>::labels()[index] : QString(); }
};

} // namespace tavlo::config
